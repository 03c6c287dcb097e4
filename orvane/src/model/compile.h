#pragma once
// Compiles a parsed configuration into the engine's feature list: one feature per record,
// with holdout and mutex groups resolved by top-level key, to any depth.

#include <memory>
#include <vector>

#include "base/result.h"
#include "config/experiment.h"
#include "model/feature.h"
#include "model/init_error.h"

namespace orvane {

using FeatureList = std::vector<std::shared_ptr<const Feature>>;

// One feature per record, in document order. A dangling parent name is no error; parent
// references that form a cycle fail with ParentCycle.
Result<FeatureList, OrvaneInitError> experiment_config_to_features(ExperimentConfig config);

}  // namespace orvane
