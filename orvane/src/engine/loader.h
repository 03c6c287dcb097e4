#pragma once
// Builds an engine: open the configuration file, read it, compile it, resolve the stage
// names — in this order, so the first failing step is the one reported.

#include <string_view>

#include "base/result.h"
#include "engine/orvane.h"
#include "model/compile.h"
#include "model/init_error.h"

namespace orvane {

Result<Orvane, OrvaneInitError> init_orvane(std::string_view decisionmakers, std::string_view path);

// The same from a configuration already in memory: the results and texts of init_orvane
// for a regular file holding exactly these bytes.
Result<Orvane, OrvaneInitError> init_orvane_text(std::string_view decisionmakers,
                                                 std::string_view text);

// Splits `decisionmakers` at runs of Unicode white space and resolves each name in order;
// the first unknown name fails with InvalidDecisionMaker.
Result<Orvane, OrvaneInitError> init(std::string_view decisionmakers, FeatureList features);

}  // namespace orvane
