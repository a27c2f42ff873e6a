#include "text/marker.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>

#include "text_fixture.h"

namespace {

class MarkerFile : public TextTest {
 protected:
  // Dates the marker `seconds` before now (after it, when negative).
  void age(double seconds) {
    auto when = std::chrono::system_clock::now() - std::chrono::duration<double>(seconds);
    auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec times[2] = {{since / 1000000000, since % 1000000000}, {since / 1000000000, since % 1000000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, marker.c_str(), times, 0), 0);
  }
};

TEST_F(MarkerFile, CountsForSevenDaysUnderTheSameSystem) {
  const double hour = 3600, week = 604800;
  struct Case {
    std::string text;
    double age;
    std::optional<std::string> reason;
  } cases[] = {
      {build + "\nno accurate level", hour, "no accurate level"},
      {build + "\nfirst\nsecond\n", hour, "first\nsecond\n"},
      {build + "\n\nblank first", hour, "\nblank first"},
      {"\n\n" + build + "\nafter empty lines", hour, "after empty lines"},
      {build + "\nin the future", -hour, "in the future"},
      {build + "\njust in time", week - 60, "just in time"},
      {build + "\ntoo old", week, std::nullopt},
      {build + "\nmuch too old", 3 * week, std::nullopt},
      {"Other OS 2\nfrom another system", hour, std::nullopt},
      {build, hour, std::nullopt},
      {build + "\n", hour, std::nullopt},
      {"", hour, std::nullopt},
      // A carriage return and line feed is one character, not a line feed.
      {build + "\r\nwindows line", hour, std::nullopt},
      {build + "\nbad \xff byte", hour, std::nullopt},
  };
  for (auto& c : cases) {
    writeMarker(c.text);
    age(c.age);
    EXPECT_EQ(failedLately(markerFile()), c.reason) << testing::PrintToString(c.text);
  }
}

TEST_F(MarkerFile, NoCachesFolderMeansNoMarker) {
  writeMarker(build + "\nreason");
  Marker nowhere{std::nullopt, build};
  EXPECT_EQ(failedLately(nowhere), std::nullopt);
  markAccurateFailed(nowhere, "another reason");
  EXPECT_EQ(markerText(), build + "\nreason");
}

TEST_F(MarkerFile, IsWrittenWithItsFoldersAndReadBack) {
  markAccurateFailed(markerFile(), "engine\nwould not load");
  EXPECT_EQ(markerText(), build + "\nengine\nwould not load");
  EXPECT_EQ(failedLately(markerFile()), "engine\nwould not load");

  markAccurateFailed(markerFile(), "later");
  EXPECT_EQ(markerText(), build + "\nlater");
  // Nothing is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(marker.parent_path()), {}), 1);
}

TEST_F(MarkerFile, AnUnwritableFolderIsIgnored) {
  std::ofstream(folder / "caches");
  markAccurateFailed(markerFile(), "reason");
  EXPECT_EQ(failedLately(markerFile()), std::nullopt);
}

}  // namespace
