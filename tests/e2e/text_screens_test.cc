// The ocr service reading whole screens of real X programs, which
// tools/text_screens.py puts on a private Xvfb with words it knows: most of
// the words come back, and every box lies on the ink of its line.
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "harness.h"
#include "text/marker.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct Box {
  double x, y, width, height;
  double right() const { return x + width; }
  double bottom() const { return y + height; }
  bool within(const Box& outer, double slack) const {
    return x >= outer.x - slack && y >= outer.y - slack && right() <= outer.right() + slack &&
           bottom() <= outer.bottom() + slack;
  }
};

Box boxOf(const json& r) { return {r[0], r[1], r[2], r[3]}; }

// 8-bit grey pixels of a PNG file, through ImageMagick.
struct Grey {
  int width, height;
  std::string pixels;
  int at(int x, int y) const { return uint8_t(pixels[size_t(y) * width + x]); }
};

Grey grey(const fs::path& png, int width, int height) {
  e2e::Child convert({"convert", png.string(), "-colorspace", "gray", "-depth", "8", "gray:-"});
  convert.closeIn();
  auto ending = convert.wait();
  EXPECT_EQ(ending.code, 0) << ending.err;
  EXPECT_EQ(ending.out.size(), size_t(width) * height);
  return {width, height, ending.out};
}

// Puts the screens on a private Xvfb and shoots them into `folder`; each
// screen's windows start, show their text, are shot and stop again.
json makeScreens(const fs::path& folder, const std::vector<std::string>& names) {
  e2e::Xvfb server(1280, 720);
  std::vector<std::string> command{"python3", TEXT_SCREENS, PELLIX_BINARY, folder.string()};
  command.insert(command.end(), names.begin(), names.end());
  e2e::Child make(command, server.environment());
  make.closeIn();
  auto ending = make.wait(std::chrono::seconds(90));
  EXPECT_EQ(ending.code, 0) << ending.err;
  return json::parse(std::ifstream(folder / "screens.json"));
}

// The answers of a fresh service at `level` for the screens, in order.
std::vector<json> read(const json& screens, const fs::path& folder, const std::string& level) {
  fs::path cache = folder / ("cache-" + level);
  if (level == "fast") {
    // A marker from this system, as a failed accurate level leaves it.
    fs::create_directories(cache / "pellix-capture");
    std::ofstream(cache / "pellix-capture" / "accurate-text-failed") << thisSystemsMarker().build << "\ntest";
  }
  std::string requests;
  for (auto& screen : screens) requests += json{{"path", screen["image"]}}.dump() + "\n";
  e2e::Child service(e2e::tool({"ocr"}), {{"XDG_CACHE_HOME", cache.string()}, {"LANGUAGE", "en"}});
  EXPECT_EQ(write(service.in(), requests.data(), requests.size()), ssize_t(requests.size()));
  service.closeIn();
  auto ending = service.wait(std::chrono::seconds(100));
  EXPECT_EQ(ending.code, 0) << ending.err;
  std::vector<json> answers;
  std::istringstream out(ending.out);
  for (std::string line; std::getline(out, line);) answers.push_back(json::parse(line));
  EXPECT_EQ(answers.size(), screens.size() + 2) << ending.out;
  answers.erase(answers.begin(), answers.begin() + std::min<long>(2, long(answers.size())));
  return answers;
}

// Most words read right, lines that keep to one window, and every box on the
// ink of its word: in a terminal, on the character cells of a word of that
// text; elsewhere, inside the window that shows it.
void check(const json& screen, const json& answer, double floor) {
  SCOPED_TRACE(screen["name"].get<std::string>());
  ASSERT_TRUE(answer.contains("lines")) << answer;
  auto picture = grey(screen["image"].get<std::string>(), 1280, 720);

  std::map<std::string, int> expected;
  size_t total = 0;
  for (auto& window : screen["windows"])
    for (auto& word : window["words"]) expected[word]++, total++;
  auto left = expected;
  size_t right = 0;
  for (auto& line : answer["lines"])
    for (auto& word : line)
      if (left[word["t"]] > 0) left[word["t"]]--, right++;
  EXPECT_GE(double(right) / total, floor) << right << " of " << total << " words: " << answer;

  for (auto& line : answer["lines"]) {
    const json* home = nullptr;
    for (auto& window : screen["windows"]) {
      Box frame{window["x"], window["y"], window["width"], window["height"]};
      if (std::all_of(line.begin(), line.end(), [&](const json& w) { return boxOf(w["r"]).within(frame, 1); }))
        home = &window;
    }
    ASSERT_TRUE(home) << "a line across windows, or off them: " << line;

    for (auto& word : line) {
      std::string text = word["t"];
      Box box = boxOf(word["r"]);
      SCOPED_TRACE(text + " " + word["r"].dump());
      ASSERT_GT(box.width, 0);
      ASSERT_GT(box.height, 0);
      // Its pixels hold ink on paper.
      int low = 255, high = 0;
      for (int y = std::max(int(box.y), 0); y < std::min(int(box.bottom()), picture.height); y++)
        for (int x = std::max(int(box.x), 0); x < std::min(int(box.right()), picture.width); x++)
          low = std::min(low, picture.at(x, y)), high = std::max(high, picture.at(x, y));
      EXPECT_GE(high - low, 60);
      if (!home->contains("cells")) continue;
      // A terminal's word lies on the cells of its text, within a pixel or two;
      // a word misread lies on the cells of some line.
      bool onItsCells = false, onALine = false;
      for (auto& cell : (*home)["cells"]) {
        Box cells = boxOf(cell["r"]);
        double column = cells.width / cell["t"].get<std::string>().size();
        onALine |= box.y >= cells.y - 2 && box.bottom() <= cells.bottom() + 2;
        onItsCells |= cell["t"] == text && box.within(cells, 2) && box.width >= cells.width - 2 * column;
      }
      EXPECT_TRUE(onALine);
      auto& words = (*home)["words"];
      if (std::find(words.begin(), words.end(), text) != words.end()) {
        EXPECT_TRUE(onItsCells);
      }
    }
  }
}

TEST(TextScreens, WindowsAreReadWholeWhateverSurroundsThemAtBothLevels) {
  char name[] = "/tmp/pellix-screens-XXXXXX";
  fs::path folder = mkdtemp(name);
  // Terminals in the bitmap font and in DejaVu Sans Mono on a black desktop;
  // reverse video beside a light terminal; reverse video and a dialog on black.
  auto screens = makeScreens(folder, {"black-terminals", "reverse-beside-light", "reverse-on-black"});
  ASSERT_EQ(screens.size(), 3u);
  struct Level {
    std::string name;
    double floor;
  } levels[] = {{"accurate", 0.95}, {"fast", 0.90}};
  for (auto& level : levels) {
    SCOPED_TRACE(level.name);
    auto answers = read(screens, folder, level.name);
    ASSERT_EQ(answers.size(), screens.size());
    for (size_t i = 0; i < answers.size(); i++) check(screens[i], answers[i], level.floor);
  }
  fs::remove_all(folder);
}

}  // namespace
