#include "platform/tesseract/text_regions.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/tesseract/backgrounds.h"

namespace platform {

namespace {

// Pixels this close to a part found inside or beside theirs are the border
// between the two.
constexpr int edgeReach = 4;
// Fewer pixels of ink than this are no text.
constexpr size_t leastInk = 12;
// Room kept around the text of a part: Tesseract finds lines better with it.
constexpr int margin = 8;

// What a pixel is to the part it lies in.
enum Role : uint8_t { plain, letter, border };

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

// A part's own ink, in its box: 1 where a pixel is ink.
using InkMask = std::vector<uint8_t>;

// Erases the outlines drawn around text (buttons, fields, table cells):
// Tesseract takes a box that holds letters for a picture and reads nothing in
// it. An outline is a thin connected line of ink whose box holds the box of
// other ink.
void eraseFrames(GreyPicture& picture, InkMask& inked, uint8_t paper) {
  int w = picture.width, h = picture.height;
  struct Piece {
    size_t count = 0;
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
  };
  std::vector<int32_t> label(inked.size(), nobody);
  std::vector<Piece> pieces;
  std::vector<size_t> stack;
  for (size_t start = 0; start < label.size(); start++) {
    if (label[start] != nobody || !inked[start]) continue;
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
      for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, h - 1); ny++)
        for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, w - 1); nx++) {
          size_t next = size_t(ny) * w + nx;
          if (label[next] == nobody && inked[next]) {
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
    if (label[at] != nobody && frame[size_t(label[at])]) picture.pixels[at] = paper, inked[at] = 0;
}

// The median height of the runs of rows that hold ink: the height of a line
// of letters, from the top of the tallest to the foot of the lowest.
int lineHeight(const InkMask& inked, int w, int h) {
  std::vector<int> heights;
  int run = 0;
  for (int y = 0; y <= h; y++) {
    bool any = y < h && std::any_of(inked.begin() + long(y) * w, inked.begin() + long(y + 1) * w,
                                    [](uint8_t i) { return i != 0; });
    if (any) {
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
  auto found = findBackgrounds(picture);
  auto& backgrounds = found.list;
  auto& owner = found.owner;

  // The ink of a part: what is not its background and differs from it, but
  // for the borders. The last part gathers what lies on no background and is
  // not flat.
  size_t rest = backgrounds.size();
  auto partOf = [&](size_t at) { return owner[at] == nobody ? rest : size_t(owner[at]); };
  // Only near the boxes of the parts found after its own can a pixel be on an
  // edge: most pixels need no look around.
  std::vector<std::vector<PixelBox>> later(rest + 1);
  for (size_t part = 0; part <= rest; part++)
    for (size_t next = part == rest ? 0 : part + 1; next < rest; next++) {
      auto& b = backgrounds[next];
      if (b.holds)
        later[part].push_back({b.left - edgeReach, b.top - edgeReach, b.right - b.left + 1 + 2 * edgeReach,
                               b.bottom - b.top + 1 + 2 * edgeReach});
    }
  auto nearLater = [&](size_t part, int x, int y) {
    return std::any_of(later[part].begin(), later[part].end(), [&](const PixelBox& b) {
      return x >= b.x && x < b.x + b.width && y >= b.y && y < b.y + b.height;
    });
  };
  std::vector<Ink> inks(rest + 1);
  std::vector<uint8_t> role(picture.pixels.size(), plain);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      size_t at = size_t(y) * w + x;
      size_t part = partOf(at);
      int difference = 0;
      if (part == rest) {
        if (found.flat[at]) continue;
      } else {
        difference = int(picture.pixels[at]) - backgrounds[part].level();
        if (found.ground[at] == int32_t(part) || std::abs(difference) <= flatness) continue;
      }
      if (nearLater(part, x, y) && onEdge(owner, w, h, x, y)) {
        role[at] = border;
      } else {
        role[at] = letter;
        inks[part].add(x, y, difference);
      }
    }

  std::vector<TextRegion> regions;
  for (size_t part = 0; part <= rest; part++) {
    auto& ink = inks[part];
    if (ink.count < leastInk) continue;
    bool invert = part != rest && ink.contrast > 0;
    uint8_t level = part == rest ? 255 : backgrounds[part].level();
    uint8_t paper = invert ? uint8_t(255 - level) : level;
    TextRegion region;
    region.box.x = std::max(ink.left - margin, 0);
    region.box.y = std::max(ink.top - margin, 0);
    region.box.width = std::min(ink.right + margin, w - 1) - region.box.x + 1;
    region.box.height = std::min(ink.bottom + margin, h - 1) - region.box.y + 1;
    auto& out = region.picture;
    out.width = region.box.width, out.height = region.box.height;
    out.pixels.resize(size_t(out.width) * out.height);
    InkMask inked(out.pixels.size(), 0);
    for (int y = 0; y < out.height; y++)
      for (int x = 0; x < out.width; x++) {
        size_t at = size_t(y + region.box.y) * w + (x + region.box.x), local = size_t(y) * out.width + x;
        bool own = partOf(at) == part && (part == rest || role[at] != border);
        uint8_t value = own ? picture.pixels[at] : level;
        out.pixels[local] = invert ? uint8_t(255 - value) : value;
        inked[local] = own && role[at] == letter;
      }
    if (part == rest) {
      region.darkOnLight = false;
    } else {
      eraseFrames(out, inked, paper);
      region.lineHeight = lineHeight(inked, out.width, out.height);
    }
    regions.push_back(std::move(region));
  }
  std::stable_sort(regions.begin(), regions.end(), [](const TextRegion& a, const TextRegion& b) {
    return a.box.y != b.box.y ? a.box.y < b.box.y : a.box.x < b.box.x;
  });
  return regions;
}

}  // namespace platform
