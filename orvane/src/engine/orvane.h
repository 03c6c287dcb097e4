#pragma once
// The engine: the compiled features and the chain of stages, fixed at construction and
// only read afterwards, so any number of threads may call it at once.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/result.h"
#include "context/context.h"
#include "engine/decision.h"
#include "engine/orvane_error.h"
#include "engine/stage.h"
#include "model/compile.h"
#include "model/feature.h"

namespace orvane {

// An error, no decision, or one decision.
using DecideResult = Result<std::optional<Decision>, OrvaneError>;
using InternalResult = Result<std::optional<InternalDecision>, OrvaneError>;

class Orvane {
 public:
  Orvane(FeatureList features, std::vector<Stage> chain);

  const FeatureList& features() const { return features_; }
  const std::vector<Stage>& chain() const { return chain_; }

  // The first feature of the list with exactly this name, or null.
  const Feature* find_feature(std::string_view name) const;
  // Whether another feature of the list carries the name of features()[index].
  bool shares_name(size_t index) const { return !shared_names_.empty() && shared_names_[index]; }
  // The indices of the features choose_all decides when no identifier type is given, in
  // feature order: the same for every such request, so worked out once.
  const std::vector<size_t>& decided_by_default() const { return decided_by_default_; }

 private:
  FeatureList features_;
  std::vector<Stage> chain_;
  // First index of each name in features_; the names point into the features.
  std::unordered_map<std::string_view, size_t> first_by_name_;
  // One flag per feature, set when its name is not unique; empty when every name is.
  std::vector<bool> shared_names_;
  std::vector<size_t> decided_by_default_;
};

// The answers of choose_all, one entry per feature name, in the order of the feature list.
// A flat list rather than a hash map: the answers are made once and read through, and a
// request pays neither a hash nor an allocation per feature for it.
class AllDecisions {
 public:
  using Entry = std::pair<std::string, DecideResult>;

  AllDecisions() = default;
  explicit AllDecisions(std::vector<Entry> entries) : entries_(std::move(entries)) {}

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }
  // The entry of `name`, or null; a linear search, for callers that want a few entries.
  const DecideResult* find(std::string_view name) const;

 private:
  std::vector<Entry> entries_;
};

// Runs the chain for `feature`; events of earlier stages precede the deciding stage's.
InternalResult decide_internal(const Orvane& engine, const Feature& feature, const Context& ctx);
// decide_internal, then the serialisation of the decision's events.
DecideResult decide(const Orvane& engine, const Feature& feature, const Context& ctx);

// A run of the chain as a batch reports it: decide_internal's answer (with the error
// decide would give when the events could not be serialised, though nothing is serialised),
// the index in the chain of the stage that decided, and the bucket the feature's own
// bucketing stage computed, when it ran that far.
struct ObservedRun {
  InternalResult result = std::optional<InternalDecision>();
  std::optional<size_t> decided_at;
  std::optional<uint16_t> bucket;
};
ObservedRun decide_observed(const Orvane& engine, const Feature& feature, const Context& ctx);

// The feature choose decides: the first named `name`, which must be bucketed by
// `identifier_type` when one is given.
Result<const Feature*, OrvaneError> chosen_feature(
    const Orvane& engine, std::string_view name, const std::optional<ContextField>& identifier_type);
// Whether choose_all decides `feature`: not a dynamic configuration, and bucketed by
// `identifier_type` when one is given.
bool decided_by_choose_all(const Feature& feature,
                           const std::optional<ContextField>& identifier_type);

// Decides the first feature named `name`; `identifier_type`, when given, must equal the
// feature's bucketing field.
DecideResult choose(const Orvane& engine, std::string_view name, const Context& ctx,
                    const std::optional<ContextField>& identifier_type);

// Decides every feature that is not a dynamic configuration (only those bucketed by
// `identifier_type` when given). Never fails as a whole; of features sharing a name, the
// last one decided gives the entry.
AllDecisions choose_all(const Orvane& engine, const Context& ctx,
                        const std::optional<ContextField>& identifier_type);

// Typed lookups of dynamic configuration values.
Result<const Feature*, OrvaneError> feature_by_name(const Orvane& engine, std::string_view name);
Result<Json, OrvaneError> get_value(const Orvane& engine, std::string_view name, const Context& ctx);
Result<bool, OrvaneError> get_bool(const Orvane& engine, std::string_view name, const Context& ctx);
Result<int64_t, OrvaneError> get_int(const Orvane& engine, std::string_view name, const Context& ctx);
Result<double, OrvaneError> get_float(const Orvane& engine, std::string_view name, const Context& ctx);
Result<std::string, OrvaneError> get_string(const Orvane& engine, std::string_view name,
                                            const Context& ctx);
Result<JsonObject, OrvaneError> get_map(const Orvane& engine, std::string_view name,
                                        const Context& ctx);
// Every dynamic configuration's decision; a failed or missing decision becomes a default
// decision carrying the default value of the feature's value type.
std::unordered_map<std::string, Decision> get_all_values(const Orvane& engine, const Context& ctx);

}  // namespace orvane
