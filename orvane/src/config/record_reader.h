#pragma once
// The typed reading of a whole configuration document held in memory.

#include <string_view>

#include "base/result.h"
#include "config/config_reader.h"

namespace orvane::config_detail {

Result<ExperimentConfig, JsonError> read_config_text(std::string_view text);

}  // namespace orvane::config_detail
