#include "platform/sample.h"

namespace platform {

bool isCompleteScreenFrame(const SampleBuffer& sample, OutputType type) {
  if (type != OutputType::screen || !sample.isValid) return false;
  if (!sample.attachments || sample.attachments->empty()) return false;
  auto& info = sample.attachments->front();
  auto status = info.find(frameInfoStatus);
  if (status == info.end()) return false;
  auto* value = std::get_if<int64_t>(&status->second);
  return value && *value == complete;
}

}  // namespace platform
