// The option parser: any argument list either parses into a record that the
// final checks allow, or ends with one of the parser's messages and code 2.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "front/options.h"
#include "fuzz/throwing_fail.h"

namespace {

const std::set<std::string> messages = {
    "--display needs a display id", "--fps needs a number",       "--exclude-pid needs a process id",
    "--window needs a window id",   "--size needs w,h",           "--crop needs x,y,w,h",
    "--out needs a file",           "--window needs --size",      "shot needs --out <file.png>",
};

bool known(const std::string& message, const std::vector<std::string>& arguments) {
  if (messages.count(message)) return true;
  const std::string unknown = "unknown argument ";
  if (message.rfind(unknown, 0) != 0) return false;
  for (auto& argument : arguments)
    if (message.compare(unknown.size(), std::string::npos, argument) == 0) return true;
  return false;
}

}  // namespace

// The first byte chooses the job; the rest is the argument list, split at NUL.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool audio = data[0] & 1, shot = data[0] & 2;
  Job job = shot ? Job::shot : audio ? Job::audio : Job::video;
  std::vector<std::string> arguments;
  if (size > 1) {
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    for (size_t start = 0;;) {
      size_t end = rest.find('\0', start);
      arguments.push_back(rest.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  try {
    Options options = parse(arguments, 7, job);
    if (options.window && !options.size && !audio && !shot) abort();
    if (shot && !options.out) abort();
    if (options.fps < 1 || options.fps > INT32_MAX) abort();
    if (options.size && !(options.size->width >= 2 && options.size->height >= 2 &&
                          std::isfinite(options.size->width) && std::isfinite(options.size->height)))
      abort();
  } catch (const Failed& failed) {
    if (failed.code != 2 || !known(failed.message, arguments)) abort();
  }
  return 0;
}
