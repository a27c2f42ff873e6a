// How much larger than on the screen a part's text is read at each level.
#pragma once

#include "platform/text.h"

namespace platform {

// Tesseract misreads letters only a few pixels high, and reads them far
// better scaled up; larger text it reads as well at its own size, for less
// time. The accurate level reads everything at twice its size; the fast level
// scales up only small text, lines of ink less than `smallLines` pixels high,
// and only by a quarter: measured on terminals and dialogs in 6x13 and 7x13
// bitmap fonts, that reads as many words as half again, in four fifths of the
// time. A part whose line height is unknown (0: what lies on no flat
// background, a patterned desktop or a photo) is read at its own size at both
// levels: scaled up, a 1280x720 wallpaper's texture took a third of the
// screen's time and held no word. The caller caps the scale where the
// engine's limits or the memory that is free call for less.
double readingScale(RecognitionLevel level, int lineHeight);

constexpr int smallLines = 14;

}  // namespace platform
