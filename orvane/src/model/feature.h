#pragma once
// The compiled feature model that every decision reads. Built once by the compiler, never
// changed afterwards; parent features (holdout and mutex groups) are shared immutable
// objects, so a group that is the parent of many records is held once.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/json.h"
#include "config/experiment.h"
#include "config/targeting_tree.h"
#include "context/context_field.h"

namespace orvane {

struct Feature;

struct VariantSet {
  uint64_t start_ts = 0;
  uint64_t stop_ts = 0;
  uint32_t shuffle_version = 0;
  std::optional<ContextField> bucket_val;
  std::vector<Variant> variants;
  std::shared_ptr<const Feature> holdout;      // null when absent
  std::shared_ptr<const Feature> mutex_group;  // null when absent
};

struct Feature {
  uint32_t id = 0;
  std::string name;
  bool enabled = false;
  ExperimentType type = ExperimentType::RangeVariant;
  uint32_t version = 0;
  std::string owner;
  bool emit_event = false;
  uint64_t platform_bitmask = 0;
  std::optional<Json> value;
  std::optional<ValueType> value_type;
  std::optional<TargetingTree> targeting;
  std::optional<std::vector<OverrideMap>> overrides;
  std::optional<VariantSet> variant_set;
};

// A new, empty feature. Every feature is made here: its shared pointer releases parents one
// after another instead of each parent's destructor releasing the next, so freeing a chain
// of hundreds of thousands of groups, from either end, needs no deeper stack than one.
std::shared_ptr<Feature> new_feature();

}  // namespace orvane
