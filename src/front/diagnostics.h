// How the tool speaks on standard error. Every line goes to the descriptor in
// one write, with no buffer of the tool's own, so any thread may call these and
// an exit needs no flushing.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// "pellix-capture: <message>\n" on standard error when `verbose` (--verbose).
void say(bool verbose, std::string_view message);

// "pellix-capture: <message>\n" on standard error, always; then exits with `code`.
[[noreturn]] void fail(int32_t code, std::string_view message);

// What a failure that is no platform error says: "out of memory" for
// std::bad_alloc, the exception's own text otherwise.
std::string_view describeFailure(const std::exception& failure);

// From here on an exception that escapes any thread (a job's queue, a
// library's callback), or anything else that would abort through
// std::terminate, ends the process through fail(2, ...) saying what failed.
void failOnEscapedExceptions();

template <typename T>
T required(std::optional<T> value, std::string_view message) {
  if (!value) fail(2, message);
  return std::move(*value);
}

// Writes all of `size` bytes to `fd`; a write that fails or writes nothing
// means the reader has gone, which ends the process with exit code 0.
void writeAll(int fd, const void* bytes, size_t size);

// A name list as the progress lines show it: ["a", "b \"c\""].
std::string quotedList(const std::vector<std::string>& names);
