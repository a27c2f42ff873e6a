#include "platform/tesseract/text_regions.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <numeric>

namespace platform {

namespace {

// A pixel is background when its 3x3 neighbourhood spans at most this many
// grey levels: flat colour and gentle gradients are, letters' edges are not.
constexpr int flatness = 8;
// A background is at least this many pixels: a few lines of small letters.
// Letters' insides and the cells of a desktop pattern are smaller.
constexpr uint32_t smallestBackground = 1200;
// Pixels this close to a part found inside or beside theirs are the border
// between the two.
constexpr int edgeReach = 4;
// Fewer differing pixels than this are no text.
constexpr size_t leastInk = 12;
// Room kept around the text of a part: Tesseract finds lines better with it.
constexpr int margin = 8;

constexpr int32_t nobody = -1;

// Whether each pixel's 3x3 neighbourhood is flat, one row at a time.
std::vector<uint8_t> flatPixels(const GreyPicture& picture) {
  int w = picture.width, h = picture.height;
  std::vector<uint8_t> flat(picture.pixels.size());
  // The largest and smallest of each pixel and its left and right neighbours,
  // for the rows above, at and below the one being decided.
  std::vector<uint8_t> high(size_t(3) * w), low(size_t(3) * w);
  auto across = [&](int y) {
    const uint8_t* row = &picture.pixels[size_t(y) * w];
    uint8_t* hi = &high[size_t(y % 3) * w];
    uint8_t* lo = &low[size_t(y % 3) * w];
    for (int x = 0; x < w; x++) {
      uint8_t a = row[x > 0 ? x - 1 : x], b = row[x], c = row[x + 1 < w ? x + 1 : x];
      hi[x] = std::max({a, b, c});
      lo[x] = std::min({a, b, c});
    }
  };
  across(0);
  for (int y = 0; y < h; y++) {
    if (y + 1 < h) across(y + 1);
    int above = y > 0 ? y - 1 : y, below = y + 1 < h ? y + 1 : y;
    const uint8_t *hiA = &high[size_t(above % 3) * w], *hiB = &high[size_t(y % 3) * w],
                  *hiC = &high[size_t(below % 3) * w];
    const uint8_t *loA = &low[size_t(above % 3) * w], *loB = &low[size_t(y % 3) * w],
                  *loC = &low[size_t(below % 3) * w];
    uint8_t* out = &flat[size_t(y) * w];
    for (int x = 0; x < w; x++)
      out[x] = std::max({hiA[x], hiB[x], hiC[x]}) - std::min({loA[x], loB[x], loC[x]}) <= flatness;
  }
  return flat;
}

// A stretch of flat pixels in one row.
struct Run {
  int y, left, right;  // right inclusive
  uint32_t set;
};

class Sets {
 public:
  uint32_t make() {
    parent_.push_back(uint32_t(parent_.size()));
    return parent_.back();
  }
  uint32_t find(uint32_t a) {
    while (parent_[a] != a) a = parent_[a] = parent_[parent_[a]];
    return a;
  }
  void join(uint32_t a, uint32_t b) {
    a = find(a), b = find(b);
    if (a != b) parent_[std::max(a, b)] = std::min(a, b);
  }

 private:
  std::vector<uint32_t> parent_;
};

struct Background {
  uint32_t set = 0;
  uint64_t area = 0, sum = 0;
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;  // inclusive
  size_t firstPixel = 0;

  uint8_t level() const { return uint8_t(sum / area); }
  uint64_t boxArea() const { return uint64_t(right - left + 1) * uint64_t(bottom - top + 1); }
};

// The large connected areas of flat pixels, the largest boxes first.
std::vector<Background> findBackgrounds(const GreyPicture& picture, const std::vector<uint8_t>& flat) {
  int w = picture.width, h = picture.height;
  std::vector<Run> runs;
  Sets sets;
  size_t previous = 0;  // the first run of the row above
  for (int y = 0; y < h; y++) {
    size_t first = runs.size();
    const uint8_t* row = &flat[size_t(y) * w];
    for (int x = 0; x < w;) {
      if (!row[x]) {
        x++;
        continue;
      }
      int left = x;
      while (x < w && row[x]) x++;
      runs.push_back({y, left, x - 1, sets.make()});
    }
    // Runs that share a column with a run of the row above touch it.
    for (size_t a = first, b = previous; a < runs.size() && b < first;) {
      if (runs[b].right < runs[a].left) {
        b++;
      } else if (runs[a].right < runs[b].left) {
        a++;
      } else {
        sets.join(runs[a].set, runs[b].set);
        runs[a].right < runs[b].right ? a++ : b++;
      }
    }
    previous = first;
  }

  std::vector<uint64_t> area(runs.size(), 0);
  for (auto& run : runs) area[run.set = sets.find(run.set)] += uint64_t(run.right - run.left + 1);
  std::vector<int32_t> indexOf(runs.size(), nobody);
  std::vector<Background> backgrounds;
  for (auto& run : runs) {
    if (area[run.set] < smallestBackground) continue;
    if (indexOf[run.set] == nobody) {
      indexOf[run.set] = int32_t(backgrounds.size());
      backgrounds.push_back({run.set});
      backgrounds.back().firstPixel = size_t(run.y) * w + run.left;
    }
    auto& b = backgrounds[size_t(indexOf[run.set])];
    const uint8_t* row = &picture.pixels[size_t(run.y) * w];
    for (int x = run.left; x <= run.right; x++) b.sum += row[x];
    b.area += uint64_t(run.right - run.left + 1);
    b.left = std::min(b.left, run.left), b.right = std::max(b.right, run.right);
    b.top = std::min(b.top, run.y), b.bottom = std::max(b.bottom, run.y);
  }
  std::stable_sort(backgrounds.begin(), backgrounds.end(), [](const Background& a, const Background& b) {
    return a.boxArea() != b.boxArea() ? a.boxArea() > b.boxArea() : a.area > b.area;
  });
  return backgrounds;
}

// Each pixel's part: the last background whose box holds it, among those
// that take it from what held it before. A background takes its box from the
// one its own pixels lay in, never from a window beside or above it, so
// windows nest and overlap as they do on the screen, and letters a pixel away
// from a window's edge stay in the window.
std::vector<int32_t> partOfEachPixel(const std::vector<Background>& backgrounds, int w, int h) {
  std::vector<int32_t> owner(size_t(w) * h, nobody);
  for (size_t i = 0; i < backgrounds.size(); i++) {
    auto& b = backgrounds[i];
    int32_t parent = owner[b.firstPixel];
    for (int y = b.top; y <= b.bottom; y++) {
      int32_t* row = &owner[size_t(y) * w];
      for (int x = b.left; x <= b.right; x++)
        if (row[x] == parent) row[x] = int32_t(i);
    }
  }
  return owner;
}

// Whether a part found later lies within `edgeReach` pixels of (x, y): there
// two parts meet, in a window's border.
bool onEdge(const std::vector<int32_t>& owner, int w, int h, int x, int y) {
  int32_t own = owner[size_t(y) * w + x];
  for (int dy = std::max(y - edgeReach, 0); dy <= std::min(y + edgeReach, h - 1); dy++) {
    const int32_t* row = &owner[size_t(dy) * w];
    for (int dx = std::max(x - edgeReach, 0); dx <= std::min(x + edgeReach, w - 1); dx++)
      if (row[dx] > own) return true;
  }
  return false;
}

struct Ink {
  size_t count = 0;
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
  int64_t contrast = 0;  // the sum of ink minus background: above zero, light text on dark

  void add(int x, int y, int difference) {
    count++;
    left = std::min(left, x), right = std::max(right, x);
    top = std::min(top, y), bottom = std::max(bottom, y);
    contrast += difference;
  }
};

// Erases the outlines drawn around text (buttons, fields, table cells):
// Tesseract takes a box that holds letters for a picture and reads nothing in
// it. An outline is a thin connected line of ink whose box holds the box of
// other ink.
void eraseFrames(GreyPicture& picture, uint8_t paper) {
  int w = picture.width, h = picture.height;
  auto isInk = [&](size_t at) { return int(picture.pixels[at]) < int(paper) - flatness; };
  struct Piece {
    size_t count = 0;
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
  };
  std::vector<int32_t> label(picture.pixels.size(), nobody);
  std::vector<Piece> pieces;
  std::vector<size_t> stack;
  for (size_t start = 0; start < label.size(); start++) {
    if (label[start] != nobody || !isInk(start)) continue;
    int32_t id = int32_t(pieces.size());
    pieces.emplace_back();
    auto& piece = pieces.back();
    label[start] = id;
    stack.push_back(start);
    while (!stack.empty()) {
      size_t at = stack.back();
      stack.pop_back();
      int x = int(at % w), y = int(at / w);
      piece.count++;
      piece.left = std::min(piece.left, x), piece.right = std::max(piece.right, x);
      piece.top = std::min(piece.top, y), piece.bottom = std::max(piece.bottom, y);
      for (int dy = -1; dy <= 1; dy++)
        for (int dx = -1; dx <= 1; dx++) {
          int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
          size_t next = size_t(ny) * w + nx;
          if (label[next] == nobody && isInk(next)) {
            label[next] = id;
            stack.push_back(next);
          }
        }
    }
  }
  std::vector<uint8_t> frame(pieces.size(), 0);
  for (size_t i = 0; i < pieces.size(); i++) {
    auto& p = pieces[i];
    int pw = p.right - p.left + 1, ph = p.bottom - p.top + 1;
    if (pw < 8 || ph < 8 || p.count * 4 > size_t(pw) * size_t(ph)) continue;
    for (auto& q : pieces)
      if (q.left > p.left && q.right < p.right && q.top > p.top && q.bottom < p.bottom) {
        frame[i] = 1;
        break;
      }
  }
  for (size_t at = 0; at < label.size(); at++)
    if (label[at] != nobody && frame[size_t(label[at])]) picture.pixels[at] = paper;
}

// The median height of the runs of rows that hold ink: the height of a line
// of letters, from the top of the tallest to the foot of the lowest.
int lineHeight(const GreyPicture& picture, uint8_t paper) {
  std::vector<int> heights;
  int run = 0;
  for (int y = 0; y <= picture.height; y++) {
    bool ink = false;
    for (int x = 0; y < picture.height && x < picture.width && !ink; x++)
      ink = int(picture.at(x, y)) < int(paper) - flatness;
    if (ink) {
      run++;
    } else if (run > 0) {
      heights.push_back(run);
      run = 0;
    }
  }
  if (heights.empty()) return 0;
  std::nth_element(heights.begin(), heights.begin() + long(heights.size() / 2), heights.end());
  return heights[heights.size() / 2];
}

}  // namespace

std::vector<TextRegion> textRegions(const GreyPicture& picture) {
  int w = picture.width, h = picture.height;
  if (w <= 0 || h <= 0) return {};
  std::vector<uint8_t> flat = flatPixels(picture);
  auto backgrounds = findBackgrounds(picture, flat);
  auto owner = partOfEachPixel(backgrounds, w, h);

  // The ink of a part: what differs from its background, but for the edges.
  // The last part gathers what lies on no background and is not flat.
  size_t rest = backgrounds.size();
  auto partOf = [&](size_t at) { return owner[at] == nobody ? rest : size_t(owner[at]); };
  std::vector<Ink> ink(rest + 1);
  std::vector<uint8_t> edge(picture.pixels.size(), 0);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      size_t at = size_t(y) * w + x;
      size_t part = partOf(at);
      int difference = part == rest ? 0 : int(picture.pixels[at]) - backgrounds[part].level();
      bool differs = part == rest ? !flat[at] : std::abs(difference) > flatness;
      if (!differs) continue;
      if (onEdge(owner, w, h, x, y))
        edge[at] = 1;
      else
        ink[part].add(x, y, difference);
    }

  std::vector<TextRegion> regions;
  for (size_t part = 0; part <= rest; part++) {
    auto& found = ink[part];
    if (found.count < leastInk) continue;
    uint8_t level = part == rest ? 255 : backgrounds[part].level();
    bool invert = part != rest && found.contrast > 0;
    TextRegion region;
    region.box.x = std::max(found.left - margin, 0);
    region.box.y = std::max(found.top - margin, 0);
    region.box.width = std::min(found.right + margin, w - 1) - region.box.x + 1;
    region.box.height = std::min(found.bottom + margin, h - 1) - region.box.y + 1;
    auto& out = region.picture;
    out.width = region.box.width, out.height = region.box.height;
    out.pixels.resize(size_t(out.width) * out.height);
    for (int y = 0; y < out.height; y++)
      for (int x = 0; x < out.width; x++) {
        size_t at = size_t(y + region.box.y) * w + (x + region.box.x);
        uint8_t value = partOf(at) == part && (part == rest || !edge[at]) ? picture.pixels[at] : level;
        out.pixels[size_t(y) * out.width + x] = invert ? uint8_t(255 - value) : value;
      }
    if (part == rest) {
      region.darkOnLight = false;
    } else {
      eraseFrames(out, invert ? uint8_t(255 - level) : level);
      region.lineHeight = lineHeight(out, invert ? uint8_t(255 - level) : level);
    }
    regions.push_back(std::move(region));
  }
  std::stable_sort(regions.begin(), regions.end(), [](const TextRegion& a, const TextRegion& b) {
    return a.box.y != b.box.y ? a.box.y < b.box.y : a.box.x < b.box.x;
  });
  return regions;
}

}  // namespace platform
