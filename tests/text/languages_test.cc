#include "text/languages.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_text.h"

namespace {

using Codes = std::vector<std::string>;

TEST(ChooseLanguages, MatchesExactlyOrByPrimarySubtagInTheUsersOrder) {
  struct Case {
    Codes preferred, supported, chosen;
  } cases[] = {
      {{"de-CH", "en-GB", "en-US"}, {"en-US", "fr-FR", "de-DE"}, {"de-DE", "en-US"}},
      {{"fr-FR", "de-DE"}, {"de-DE", "fr-FR"}, {"fr-FR", "de-DE"}},
      // The first supported code of the same language, in the recognizer's order.
      {{"zh-HK"}, {"en-US", "zh-Hant", "zh-Hans"}, {"zh-Hant"}},
      {{"pt"}, {"pt-BR"}, {"pt-BR"}},
      // Nothing supported: the default.
      {{"sv-SE", "fi"}, {"en-US", "de-DE"}, {"en-US"}},
      {{}, {"de-DE"}, {"en-US"}},
      // Codes match case-sensitively.
      {{"DE-de"}, {"de-DE"}, {"en-US"}},
      // Empty pieces do not count; codes without any piece match each other.
      {{"-de-AT"}, {"de-DE"}, {"de-DE"}},
      {{"--", ""}, {"en-US", "-"}, {"-"}},
  };
  platform::FakeTextRecognition fake;
  for (auto& c : cases) {
    fake.preferred = c.preferred;
    fake.supported = c.supported;
    EXPECT_EQ(chooseLanguages(fake), c.chosen) << testing::PrintToString(c.preferred);
  }
}

TEST(ChooseLanguages, FailedQueryLeavesTheDefault) {
  platform::FakeTextRecognition fake;
  fake.preferred = {"de-DE"};
  fake.supported = {"de-DE"};
  fake.supportedError = platform::Error{platform::recognitionFailed, "no languages"};
  EXPECT_EQ(chooseLanguages(fake), Codes{"en-US"});
}

}  // namespace
