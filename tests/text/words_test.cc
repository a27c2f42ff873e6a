#include "text/words.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_text.h"

namespace {

using platform::FakeText;
using platform::Rect;

// A box for every given byte range, so that a word shows whether the split
// asked for exactly its range.
FakeText text(std::string string, std::vector<std::pair<size_t, size_t>> ranges) {
  std::map<std::pair<size_t, size_t>, Rect> boxes;
  for (size_t i = 0; i < ranges.size(); i++) boxes[ranges[i]] = {0.1 * double(i), 0.5, 0.05, 0.1};
  return FakeText(std::move(string), std::move(boxes));
}

std::vector<std::string> texts(const Json& words) {
  std::vector<std::string> all;
  for (auto& word : words) all.push_back(word["t"]);
  return all;
}

TEST(Words, SplitOnWhiteSpaceCharacters) {
  struct Case {
    std::string string;
    std::vector<std::pair<size_t, size_t>> ranges;
    std::vector<std::string> words;
  } cases[] = {
      {"  Total:   42 ", {{2, 8}, {11, 13}}, {"Total:", "42"}},
      {"a\tb\xc2\xa0" "c\xe3\x80\x80" "d", {{0, 1}, {2, 3}, {5, 6}, {9, 10}}, {"a", "b", "c", "d"}},
      {"x\r\ny\n", {{0, 1}, {3, 4}}, {"x", "y"}},
      // No white space: one word, however many characters.
      {"\xe4\xbd\xa0\xe5\xa5\xbd\xe4\xb8\x96\xe7\x95\x8c", {{0, 12}}, {"\xe4\xbd\xa0\xe5\xa5\xbd\xe4\xb8\x96\xe7\x95\x8c"}},
      // A combining mark on a space makes a character that is still white space.
      {"a \xcc\x81" "b", {{0, 1}, {4, 5}}, {"a", "b"}},
      // A zero-width space is not White_Space.
      {"a\xe2\x80\x8b" "b", {{0, 5}}, {"a\xe2\x80\x8b" "b"}},
      {" \t\xe3\x80\x80", {}, {}},
  };
  for (auto& c : cases) EXPECT_EQ(texts(words(text(c.string, c.ranges), 100, 100)), c.words) << c.string;
}

TEST(Words, WordsWithoutBoxesAreLeftOut) {
  FakeText candidate("one two three", {{{4, 7}, {0.1, 0.1, 0.2, 0.1}}});
  EXPECT_EQ(texts(words(candidate, 100, 100)), std::vector<std::string>{"two"});
}

TEST(Words, BoxesTurnToTopLeftPixelsWithOneDecimal) {
  struct Case {
    Rect normalised;
    double width, height;
    std::vector<double> r;
  } cases[] = {
      {{0.1, 0.2, 0.3, 0.05}, 1000, 500, {100, 375, 300, 25}},
      // Touching the top edge, and the bottom edge.
      {{0.5, 0.9, 0.25, 0.1}, 200, 100, {100, 0, 50, 10}},
      {{0, 0, 0.5, 0.2}, 200, 100, {0, 80, 100, 20}},
      // Halves round away from zero.
      {{0.25, 0, 0.5, 0.5}, 49, 1, {12.3, 0.5, 24.5, 0.5}},
      {{-0.25, 0, 0.5, 0.5}, 1, 1, {-0.3, 0.5, 0.5, 0.5}},
      // Negative sizes are made positive first.
      {{0.5, 0.5, -0.25, -0.25}, 100, 100, {25, 50, 25, 25}},
      // Pixel rectangles use the whole-pixel size; the top-left flip does not.
      {{0, 0, 1, 1}, 10.5, 20.5, {0, 0.5, 10, 20}},
  };
  for (auto& c : cases) {
    FakeText candidate("word", {{{0, 4}, c.normalised}});
    Json found = words(candidate, c.width, c.height);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["r"].get<std::vector<double>>(), c.r) << found.dump();
  }
}

TEST(Lines, KeepTheTopCandidateOfLinesThatHaveWords) {
  std::vector<platform::RecognizedTextObservation> results{
      platform::observation("first line", {{{0, 5}, {0, 0, 0.1, 0.1}}, {{6, 10}, {0.2, 0, 0.1, 0.1}}}),
      {},  // no candidate
      platform::observation("   "),
      platform::observation("no boxes here"),
      {{std::make_shared<FakeText>("best", std::map<std::pair<size_t, size_t>, Rect>{{{0, 4}, {0, 0, 1, 1}}}),
        std::make_shared<FakeText>("second", std::map<std::pair<size_t, size_t>, Rect>{{{0, 6}, {0, 0, 1, 1}}})}},
  };
  EXPECT_EQ(lines(results, 10, 10).dump(),
            R"([[{"t":"first","r":[0.0,9.0,1.0,1.0]},{"t":"line","r":[2.0,9.0,1.0,1.0]}],)"
            R"([{"t":"best","r":[0.0,0.0,10.0,10.0]}]])");
  EXPECT_EQ(lines({}, 10, 10), Json::array());
}

}  // namespace
