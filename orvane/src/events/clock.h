#pragma once
// Current UTC time in whole milliseconds since the Unix epoch.

#include <cstdint>

namespace orvane {

int64_t now_millis();

}  // namespace orvane
