#include "platform/tesseract/backgrounds.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace platform {

namespace {

// A background is at least this many flat pixels: a few lines of small
// letters. The insides of letters, the flat middles of the strokes of
// letters up to some 150 pixels high, and the cells of a desktop pattern are
// smaller.
constexpr uint64_t smallestBackground = 4000;
// Fewer pixels than this enclosed by a background are no text.
constexpr size_t leastEnclosed = 12;

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
    hi[0] = std::max(row[0], row[w > 1 ? 1 : 0]);
    lo[0] = std::min(row[0], row[w > 1 ? 1 : 0]);
    for (int x = 1; x + 1 < w; x++) {
      hi[x] = std::max(std::max(row[x - 1], row[x]), row[x + 1]);
      lo[x] = std::min(std::min(row[x - 1], row[x]), row[x + 1]);
    }
    if (w > 1) {
      hi[w - 1] = std::max(row[w - 2], row[w - 1]);
      lo[w - 1] = std::min(row[w - 2], row[w - 1]);
    }
  };
  across(0);
  for (int y = 0; y < h; y++) {
    if (y + 1 < h) across(y + 1);
    const uint8_t* hiAbove = &high[size_t((y > 0 ? y - 1 : y) % 3) * w];
    const uint8_t* loAbove = &low[size_t((y > 0 ? y - 1 : y) % 3) * w];
    const uint8_t* hiHere = &high[size_t(y % 3) * w];
    const uint8_t* loHere = &low[size_t(y % 3) * w];
    const uint8_t* hiBelow = &high[size_t((y + 1 < h ? y + 1 : y) % 3) * w];
    const uint8_t* loBelow = &low[size_t((y + 1 < h ? y + 1 : y) % 3) * w];
    uint8_t* out = &flat[size_t(y) * w];
    for (int x = 0; x < w; x++) {
      uint8_t hi = std::max(std::max(hiAbove[x], hiHere[x]), hiBelow[x]);
      uint8_t lo = std::min(std::min(loAbove[x], loHere[x]), loBelow[x]);
      out[x] = uint8_t(hi - lo) <= flatness;
    }
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

// The runs of flat pixels, each with the set of the runs it touches.
std::vector<Run> connectedRuns(const std::vector<uint8_t>& flat, int w, int h) {
  std::vector<Run> runs;
  Sets sets;
  size_t above = 0;  // the first run of the row above
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
    for (size_t a = first, b = above; a < runs.size() && b < first;) {
      if (runs[b].right < runs[a].left) {
        b++;
      } else if (runs[a].right < runs[b].left) {
        a++;
      } else {
        sets.join(runs[a].set, runs[b].set);
        runs[a].right < runs[b].right ? a++ : b++;
      }
    }
    above = first;
  }
  for (auto& run : runs) run.set = sets.find(run.set);
  return runs;
}

// Whether the outline of background `index` encloses at least a few pixels
// that are not flat: the ink of text lying on it.
bool enclosesInk(const Backgrounds& found, int32_t index, int w, std::vector<uint8_t>& outside,
                 std::vector<size_t>& stack) {
  auto& b = found.list[size_t(index)];
  int bw = b.right - b.left + 1, bh = b.bottom - b.top + 1;
  outside.assign(size_t(bw) * bh, 0);
  stack.clear();
  auto reach = [&](int x, int y) {
    size_t local = size_t(y - b.top) * bw + (x - b.left);
    if (outside[local] || found.ground[size_t(y) * w + x] == index) return;
    outside[local] = 1;
    stack.push_back(local);
  };
  for (int x = b.left; x <= b.right; x++) reach(x, b.top), reach(x, b.bottom);
  for (int y = b.top; y <= b.bottom; y++) reach(b.left, y), reach(b.right, y);
  while (!stack.empty()) {
    size_t local = stack.back();
    stack.pop_back();
    int x = b.left + int(local % bw), y = b.top + int(local / bw);
    if (x > b.left) reach(x - 1, y);
    if (x < b.right) reach(x + 1, y);
    if (y > b.top) reach(x, y - 1);
    if (y < b.bottom) reach(x, y + 1);
  }
  size_t enclosed = 0;
  for (int y = b.top; y <= b.bottom; y++)
    for (int x = b.left; x <= b.right; x++) {
      size_t at = size_t(y) * w + x;
      enclosed += !outside[size_t(y - b.top) * bw + (x - b.left)] && found.ground[at] != index && !found.flat[at];
    }
  return enclosed >= leastEnclosed;
}

}  // namespace

Backgrounds findBackgrounds(const GreyPicture& picture) {
  int w = picture.width, h = picture.height;
  Backgrounds found;
  found.flat = flatPixels(picture);
  auto runs = connectedRuns(found.flat, w, h);

  std::vector<uint64_t> area(runs.size(), 0);
  for (auto& run : runs) area[run.set] += uint64_t(run.right - run.left + 1);
  std::vector<int32_t> indexOf(runs.size(), nobody);
  for (auto& run : runs) {
    if (area[run.set] < smallestBackground) continue;
    if (indexOf[run.set] == nobody) {
      indexOf[run.set] = int32_t(found.list.size());
      found.list.push_back({0, 0, INT_MAX, INT_MAX, -1, -1});
    }
    auto& b = found.list[size_t(indexOf[run.set])];
    const uint8_t* row = &picture.pixels[size_t(run.y) * w];
    for (int x = run.left; x <= run.right; x++) b.sum += row[x];
    b.area += uint64_t(run.right - run.left + 1);
    b.left = std::min(b.left, run.left), b.right = std::max(b.right, run.right);
    b.top = std::min(b.top, run.y), b.bottom = std::max(b.bottom, run.y);
  }
  // An enclosing background has the larger box.
  std::vector<int32_t> order(found.list.size());
  for (size_t i = 0; i < order.size(); i++) order[i] = int32_t(i);
  auto boxArea = [](const Background& b) { return uint64_t(b.right - b.left + 1) * uint64_t(b.bottom - b.top + 1); };
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    auto &x = found.list[size_t(a)], &y = found.list[size_t(b)];
    return boxArea(x) != boxArea(y) ? boxArea(x) > boxArea(y) : x.area > y.area;
  });
  std::vector<int32_t> rank(order.size());
  std::vector<Background> sorted;
  for (size_t i = 0; i < order.size(); i++) {
    rank[size_t(order[i])] = int32_t(i);
    sorted.push_back(found.list[size_t(order[i])]);
  }
  found.list = std::move(sorted);

  found.ground.assign(picture.pixels.size(), nobody);
  std::vector<size_t> firstPixel(found.list.size(), SIZE_MAX);
  for (auto& run : runs) {
    if (indexOf[run.set] == nobody) continue;
    int32_t index = rank[size_t(indexOf[run.set])];
    size_t at = size_t(run.y) * w + run.left;
    firstPixel[size_t(index)] = std::min(firstPixel[size_t(index)], at);
    std::fill_n(found.ground.begin() + long(at), run.right - run.left + 1, index);
  }

  found.owner.assign(picture.pixels.size(), nobody);
  std::vector<uint8_t> outside;
  std::vector<size_t> stack;
  for (size_t i = 0; i < found.list.size(); i++) {
    auto& b = found.list[i];
    b.parent = found.owner[firstPixel[i]];
    if (b.parent != nobody && std::abs(int(b.level()) - int(found.list[size_t(b.parent)].level())) <= flatness &&
        !enclosesInk(found, int32_t(i), w, outside, stack))
      continue;
    b.holds = true;
    for (int y = b.top; y <= b.bottom; y++) {
      int32_t* row = &found.owner[size_t(y) * w];
      for (int x = b.left; x <= b.right; x++)
        if (row[x] == b.parent) row[x] = int32_t(i);
    }
  }
  return found;
}

}  // namespace platform
