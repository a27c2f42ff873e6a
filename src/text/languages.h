// The recognition languages of the service, chosen once at start-up.
#pragma once

#include <string>
#include <vector>

#include "platform/text.h"

// The user's preferred languages that the recognizer supports at the
// accurate level: each one itself, or else the first supported code with the
// same primary subtag. In the user's order, each code once; "en-US" when none.
std::vector<std::string> chooseLanguages(platform::TextRecognition& recognition);
