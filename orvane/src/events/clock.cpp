#include "events/clock.h"

#include <chrono>

namespace orvane {

int64_t now_millis() {
  // system_clock counts Unix time (UTC, no leap seconds). floor, not duration_cast, so a
  // clock set before 1970 still drops the sub-millisecond part downwards.
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::floor<std::chrono::milliseconds>(since_epoch).count();
}

}  // namespace orvane
