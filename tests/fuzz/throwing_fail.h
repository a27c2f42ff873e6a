// For fuzz targets that must outlive a fatal message: fail() throws Failed
// instead of ending the process, so one process can try many inputs.
#pragma once

#include <cstdint>
#include <string>

struct Failed {
  int32_t code;
  std::string message;
};
