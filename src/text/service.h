// The text recognition service: JSON requests on standard input, one JSON
// answer line each on standard output. Never returns.
#pragma once

[[noreturn]] void readText();
