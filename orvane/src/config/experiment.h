#pragma once
// The records of the experiment configuration file as read, before compilation into
// features. Plain values, consumed by the compiler.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/json.h"
#include "config/targeting_tree.h"
#include "context/context_field.h"

namespace orvane {

enum class ExperimentType { DynamicConfig, RangeVariant, FeatureRollout };
enum class ValueType { Boolean, Integer, Float, String, Text, Map };

// "dynamic_config", "range_variant", "feature_rollout".
std::string_view experiment_type_text(ExperimentType type);
// The JSON text: "Boolean", "Integer", "Float", "String", "Text", "Map".
std::string_view value_type_text(ValueType type);
// The lower-case display name: "boolean", "integer", "float", "string" (String and Text),
// "map".
std::string_view value_type_display(ValueType type);

struct Variant {
  std::string name;
  float range_start = 0;
  float range_end = 0;
};

// One object of `overrides`: variant name to tree. A repeated name keeps the later tree.
using OverrideMap = std::map<std::string, TargetingTree, std::less<>>;

struct InnerExperiment {
  uint32_t experiment_version = 0;
  std::vector<Variant> variants;
  uint32_t shuffle_version = 0;
  std::optional<ContextField> bucket_val;
  std::optional<std::vector<OverrideMap>> overrides;
  std::optional<TargetingTree> targeting;
};

struct Experiment {
  uint32_t id = 0;
  std::string name;
  bool enabled = false;
  std::string version;  // must be a string; otherwise unused
  std::string owner;
  ExperimentType type = ExperimentType::RangeVariant;
  bool emit_event = false;
  uint64_t start_ts = 0;
  uint64_t stop_ts = 0;
  std::optional<Json> value;
  std::optional<ValueType> value_type;
  std::optional<std::string> parent_meg_name;
  std::optional<std::string> parent_hg_name;
  InnerExperiment experiment;
};

// The parsed document: records by top-level key, in the order their keys first appeared.
// A key written twice keeps the later record (at the first key's place). Keys are unique.
using ExperimentConfig = std::vector<std::pair<std::string, Experiment>>;

}  // namespace orvane
