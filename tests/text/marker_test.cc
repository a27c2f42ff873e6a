#include "text/marker.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>

#include "text_fixture.h"

namespace {

class Marker : public TextTest {
 protected:
  // Dates the marker `seconds` before now (after it, when negative).
  void age(double seconds) {
    auto when = std::chrono::system_clock::now() - std::chrono::duration<double>(seconds);
    auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec times[2] = {{since / 1000000000, since % 1000000000}, {since / 1000000000, since % 1000000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, marker.c_str(), times, 0), 0);
  }
};

TEST_F(Marker, CountsForSevenDaysUnderTheSameSystem) {
  const double hour = 3600, week = 604800;
  struct Case {
    std::string text;
    double age;
    std::optional<std::string> reason;
  } cases[] = {
      {thisBuild + "\nno accurate level", hour, "no accurate level"},
      {thisBuild + "\nfirst\nsecond\n", hour, "first\nsecond\n"},
      {thisBuild + "\n\nblank first", hour, "\nblank first"},
      {"\n\n" + thisBuild + "\nafter empty lines", hour, "after empty lines"},
      {thisBuild + "\nin the future", -hour, "in the future"},
      {thisBuild + "\njust in time", week - 60, "just in time"},
      {thisBuild + "\ntoo old", week, std::nullopt},
      {thisBuild + "\nmuch too old", 3 * week, std::nullopt},
      {"Other OS 2\nfrom another system", hour, std::nullopt},
      {thisBuild, hour, std::nullopt},
      {thisBuild + "\n", hour, std::nullopt},
      {"", hour, std::nullopt},
      // A carriage return and line feed is one character, not a line feed.
      {thisBuild + "\r\nwindows line", hour, std::nullopt},
      {thisBuild + "\nbad \xff byte", hour, std::nullopt},
  };
  for (auto& c : cases) {
    writeMarker(c.text);
    age(c.age);
    EXPECT_EQ(failedLately(), c.reason) << testing::PrintToString(c.text);
  }
}

TEST_F(Marker, NoCachesFolderMeansNoMarker) {
  writeMarker(thisBuild + "\nreason");
  accurateFailed.reset();
  EXPECT_EQ(failedLately(), std::nullopt);
  markAccurateFailed("another reason");
  EXPECT_EQ(markerText(), thisBuild + "\nreason");
}

TEST_F(Marker, IsWrittenWithItsFoldersAndReadBack) {
  markAccurateFailed("engine\nwould not load");
  EXPECT_EQ(markerText(), thisBuild + "\nengine\nwould not load");
  EXPECT_EQ(failedLately(), "engine\nwould not load");

  markAccurateFailed("later");
  EXPECT_EQ(markerText(), thisBuild + "\nlater");
  // Nothing is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(marker.parent_path()), {}), 1);
}

TEST_F(Marker, AnUnwritableFolderIsIgnored) {
  std::ofstream(folder / "caches");
  markAccurateFailed("reason");
  EXPECT_EQ(failedLately(), std::nullopt);
}

}  // namespace
