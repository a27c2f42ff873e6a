#include "text/recognize.h"

#include "text_fixture.h"

namespace {

using platform::Error;
using platform::RecognitionLevel;
using Levels = std::vector<RecognitionLevel>;
constexpr auto accurate = RecognitionLevel::accurate;
constexpr auto fast = RecognitionLevel::fast;

class Recognize : public TextTest {
 protected:
  TextService service{fake, markerFile(), {"de-DE", "en-US"}, false, std::nullopt};
};

TEST_F(Recognize, AsksTheAccurateLevelWithTheServiceSettings) {
  auto page = image("page");
  page->text = {platform::observation("Hallo")};
  auto done = recognize(service, *page);
  ASSERT_EQ(done.results.size(), 1u);
  EXPECT_EQ(done.results[0].candidates[0]->string(), "Hallo");
  ASSERT_EQ(fake.levels(), Levels{accurate});
  auto& asked = fake.attempts[0].request;
  EXPECT_EQ(asked.recognitionLanguages, service.languages);
  EXPECT_FALSE(asked.usesLanguageCorrection);
  EXPECT_EQ(asked.minimumTextHeight, 0.0);
  EXPECT_FALSE(service.fastLevel);
  EXPECT_EQ(markerText(), std::nullopt);
}

TEST_F(Recognize, AFastSuccessAfterAnAccurateFailureSwitchesForGood) {
  auto broken = image("broken");
  broken->accurateError = Error{platform::recognitionFailed, "accurate level\nunavailable"};
  broken->text = {platform::observation("read fast")};
  auto done = recognize(service, *broken);
  EXPECT_EQ(done.recognitionLevel, fast);
  ASSERT_EQ(done.results.size(), 1u);
  EXPECT_EQ(fake.levels(), (Levels{accurate, fast}));
  EXPECT_TRUE(service.fastLevel);
  EXPECT_EQ(service.fastReason, "accurate level\nunavailable");
  EXPECT_EQ(markerText(), build + "\naccurate level\nunavailable");

  // From now on only the fast level is asked, and its failure is thrown at once.
  auto next = image("next");
  next->fastError = Error{platform::recognitionFailed, "fast failed"};
  EXPECT_THROW(
      try { recognize(service, *next); } catch (const Error& error) {
        EXPECT_EQ(error.description, "fast failed");
        throw;
      },
      Error);
  EXPECT_EQ(fake.levels(), (Levels{accurate, fast, fast}));
  EXPECT_EQ(service.fastReason, "accurate level\nunavailable");
}

TEST_F(Recognize, WhenBothLevelsFailTheFastErrorIsThrownAndNothingChanges) {
  auto hopeless = image("hopeless");
  hopeless->accurateError = Error{platform::recognitionFailed, "accurate failed"};
  hopeless->fastError = Error{platform::recognitionFailed, "fast failed"};
  try {
    recognize(service, *hopeless);
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.description, "fast failed");
  }
  EXPECT_FALSE(service.fastLevel);
  EXPECT_EQ(service.fastReason, std::nullopt);
  EXPECT_EQ(markerText(), std::nullopt);

  recognize(service, *image("fine"));
  EXPECT_EQ(fake.levels(), (Levels{accurate, fast, accurate}));
}

TEST_F(Recognize, SwitchesEvenWhenTheMarkerCannotBeWritten) {
  // A file where the marker's folder should be.
  std::ofstream(folder / "caches");
  auto broken = image("broken");
  broken->accurateError = Error{platform::recognitionFailed, "accurate failed"};
  recognize(service, *broken);
  EXPECT_TRUE(service.fastLevel);
  EXPECT_EQ(service.fastReason, "accurate failed");
}

}  // namespace
