// Recognized lines turned into the words of an answer, each with its box in
// image pixels, origin at the top-left corner.
#pragma once

#include <vector>

#include "front/answer.h"
#include "platform/text.h"

// The word objects {"t": text, "r": [x, y, width, height]} of `candidate`, in
// an image of `width` x `height` pixels. A word is a maximal run of
// user-perceived characters whose first scalar is not White_Space; a word the
// recognizer has no box for is left out. Box values are rounded to one
// decimal, halves away from zero.
Json words(const platform::RecognizedText& candidate, double width, double height);

// The "lines" of an answer: the words of each observation's top candidate,
// in order, leaving out observations without a candidate or without words.
Json lines(const std::vector<platform::RecognizedTextObservation>& results, double width,
           double height);
