#pragma once
// What an edit of a configuration moves: per feature, whether it was added, removed or
// changed and in which members, and for bucketed features the exact share of the 1,000
// buckets whose variant changes. The question an experimenter asks before editing a live
// experiment.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/experiment.h"
#include "context/context.h"
#include "engine/orvane.h"
#include "model/init_error.h"

namespace orvane::lint {

enum class Change : uint8_t { Added, Removed, Changed, Unchanged };
// "added", "removed", "changed", "unchanged".
std::string_view change_name(Change change);

struct FeatureDiff {
  std::string feature;  // the record's name: the new one, or the old one when removed
  std::optional<size_t> old_index;  // of the record in each configuration
  std::optional<size_t> new_index;
  Change change = Change::Unchanged;
  // Members that differ, in the order of the format, then "holdout" and "mutex_group"
  // when the group's own record (or one of its groups) changed.
  std::vector<std::string> fields;
  // id, name, shuffle_version or bucket_val changed: every user is bucketed afresh.
  bool reseeded = false;
  std::vector<std::string> reseeded_by;
  // For a feature bucketed in both versions and not reseeded: the buckets that had a
  // variant and now have another or none, and those that had none and now have one.
  std::optional<std::vector<uint16_t>> moved_buckets;
  std::vector<uint16_t> added_buckets;
  // What else moves users, one line each: "targeting: ...", "overrides: ...", "holdout
  // group ...". Counted only with identifiers (count_moved).
  std::vector<std::string> moves;
};

// Features are paired by top-level key, then what is left by name. Result: the records
// of the new configuration in its order, then those removed, in the old order.
std::vector<FeatureDiff> diff_configs(const ExperimentConfig& old_config,
                                      const ExperimentConfig& new_config);

// The engine of a configuration already read, with the chain named by `stages`; the
// features keep the records' order.
Result<Orvane, OrvaneInitError> engine_of(ExperimentConfig config, std::string_view stages);

// How many of `identifiers` get another decision (variant, value, no decision or error)
// from `new_feature` in `new_engine` than from `old_feature` in `old_engine`. Each
// request is `base` with the identifier in the new feature's bucketing field.
uint64_t count_moved(const Orvane& old_engine, const Feature& old_feature,
                                    const Orvane& new_engine, const Feature& new_feature,
                                    const Context& base,
                                    std::span<const std::string_view> identifiers);

}  // namespace orvane::lint
