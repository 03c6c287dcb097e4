#include "base/os_error.h"

#include <cstring>

namespace orvane {

std::string os_error_text(int code) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* description = strerror_r(code, buffer, sizeof buffer);
  return std::string(description) + " (os error " + std::to_string(code) + ")";
}

}  // namespace orvane
