// Answer lines on standard output: one compact JSON object and a line feed,
// in one write.
#pragma once

#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

// Writes `object`, or {"error":"no JSON"} when it cannot be serialised. A
// failed write ends the process with exit code 0: the reader has gone.
void answer(const Json& object);
