// The screencast portal's pure rules: which display a shared stream shows,
// which cursor mode to ask for, where tokens live and which files hold one.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/wayland/portal/cursor_mode.h"
#include "platform/wayland/portal/stream_match.h"
#include "platform/wayland/portal/tokens.h"

namespace {

using namespace platform::wayland::portal;

platform::Display display(uint32_t id, int64_t x, int64_t y, int64_t width, int64_t height) {
  platform::Display d;
  d.displayID = id;
  d.x = x, d.y = y, d.width = width, d.height = height;
  return d;
}

TEST(PortalStreamMatch, PositionAndSizeFirstThenTheOnlyDisplayOfItsSize) {
  std::vector<platform::Display> displays{display(1, 0, 0, 1280, 720), display(2, 1280, 0, 640, 480),
                                          display(3, 1920, 0, 640, 480)};
  struct Case {
    std::string what;
    SharedStream stream;
    std::optional<size_t> index;
  } cases[] = {
      {"exact", {7, 1280, 0, 640, 480}, 1},
      {"exact, the other of two alike", {7, 1920, 0, 640, 480}, 2},
      {"position given as 0,0 (wlroots), size unique", {7, 0, 0, 1280, 720}, 0},
      {"no position, size unique", {7, std::nullopt, std::nullopt, 1280, 720}, 0},
      {"wrong position, two of that size", {7, 100, 0, 640, 480}, std::nullopt},
      // wlroots' portal says 0,0 for every monitor: two of the size stay open.
      {"0,0, two of that size", {7, 0, 0, 640, 480}, std::nullopt},
      {"a size no display has", {7, 0, 0, 800, 600}, std::nullopt},
      {"no size", {7, 0, 0, std::nullopt, std::nullopt}, std::nullopt},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(matchingDisplay(c.stream, displays), c.index);
  }
  EXPECT_EQ(matchingDisplay({7, 0, 0, 1280, 720}, {}), std::nullopt);
}

TEST(PortalCursorMode, EmbeddedWhenShownHiddenWhenNotAsFarAsOffered) {
  struct Case {
    bool shown;
    uint32_t available;
    std::optional<uint32_t> mode;
  } cases[] = {
      {true, cursorHidden | cursorEmbedded | cursorMetadata, cursorEmbedded},
      {false, cursorHidden | cursorEmbedded | cursorMetadata, cursorHidden},
      {true, cursorHidden | cursorMetadata, std::nullopt},
      {false, cursorEmbedded, std::nullopt},
      {true, 0, std::nullopt},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.shown) + " " + std::to_string(c.available));
    EXPECT_EQ(cursorMode(c.shown, c.available), c.mode);
  }
}

TEST(PortalTokens, LiveInTheStateFolderAndOnlyWellFormedOnesAreTaken) {
  struct Place {
    std::map<std::string, std::string> environment;
    std::optional<std::string> folder;
  } places[] = {
      {{{"XDG_STATE_HOME", "/s"}, {"HOME", "/h"}}, "/s/pellix-capture"},
      {{{"HOME", "/h"}}, "/h/.local/state/pellix-capture"},
      {{{"XDG_STATE_HOME", ""}, {"HOME", "/h"}}, "/h/.local/state/pellix-capture"},
      // A relative XDG_STATE_HOME is invalid and ignored.
      {{{"XDG_STATE_HOME", "state"}, {"HOME", "/h"}}, "/h/.local/state/pellix-capture"},
      {{}, std::nullopt},
  };
  for (auto& p : places) {
    auto folder = tokenFolder([&](const std::string& name) -> std::optional<std::string> {
      auto found = p.environment.find(name);
      if (found == p.environment.end()) return std::nullopt;
      return found->second;
    });
    EXPECT_EQ(folder, p.folder);
  }

  struct Contents {
    std::string file;
    std::optional<std::string> token;
  } files[] = {
      {"0b7c1f0e-1f53-4d5c-8a3e-5d1c3a2b4f60\n", "0b7c1f0e-1f53-4d5c-8a3e-5d1c3a2b4f60"},
      {"abc_DEF-123", "abc_DEF-123"},
      {"", std::nullopt},
      {"\n", std::nullopt},
      {"two\nlines\n", std::nullopt},
      {"with space", std::nullopt},
      {std::string("nul\0byte", 8), std::nullopt},
      {"\xc3\xa9t\xc3\xa9", std::nullopt},
      {std::string(257, 'a'), std::nullopt},
  };
  for (auto& f : files) EXPECT_EQ(tokenIn(f.file), f.token) << f.file;
}

TEST(PortalTokens, ASavedTokenReplacesTheFileAndIsPrivate) {
  std::string folder = testing::TempDir() + "pellix-tokens-" + std::to_string(getpid()) + "/deeper/pellix-capture";
  Tokens tokens(folder);
  EXPECT_EQ(tokens.load(7), std::nullopt);
  ASSERT_TRUE(tokens.save(7, "first"));
  ASSERT_TRUE(tokens.save(7, "second"));
  EXPECT_EQ(tokens.load(7), "second");
  EXPECT_EQ(tokens.load(8), std::nullopt);
  struct stat facts {};
  ASSERT_EQ(stat(tokens.path(7).c_str(), &facts), 0);
  EXPECT_EQ(facts.st_mode & 0777, 0600u);
  tokens.forget(7);
  EXPECT_EQ(tokens.load(7), std::nullopt);
  EXPECT_FALSE(Tokens(std::nullopt).save(7, "nowhere"));
  std::filesystem::remove_all(testing::TempDir() + "pellix-tokens-" + std::to_string(getpid()));
}

}  // namespace
