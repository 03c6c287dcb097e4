#pragma once
// The typed reading of a whole configuration document held in memory.

#include <string_view>

#include "base/result.h"
#include "config/config_reader.h"

namespace orvane::config_detail {

// With `releasable`, the text's pages may be given back to the system as they are read
// past (see JsonCursor::release_read); the text must not be read afterwards.
Result<ExperimentConfig, JsonError> read_config_text(std::string_view text, bool releasable);

}  // namespace orvane::config_detail
