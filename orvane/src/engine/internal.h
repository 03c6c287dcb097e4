#pragma once
// The engine's internal pieces, shared between its files and tests: targeting evaluation,
// bucketing, exposure event construction and the stage dispatch.

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/result.h"
#include "config/targeting_tree.h"
#include "context/context.h"
#include "engine/orvane.h"
#include "engine/orvane_error.h"
#include "engine/stage.h"
#include "events/experiment_event.h"
#include "model/feature.h"

namespace orvane {

// --- targeting evaluation: true, false, or no result (nullopt) ---
std::optional<bool> eval(const TargetingTree& tree, const Context& ctx);
// Not symmetric: `a` is the first value of the comparison.
std::optional<bool> value_eq(const Json& a, const Json& b);
// Decimal text to double: optional sign, digits with an optional point, optional exponent,
// or inf / infinity / nan in any letter case. No blanks, no hex; empty is not a number.
std::optional<double> parse_decimal(std::string_view text);
// Exact, then within 2^-52 absolutely, then at most 4 units in the last place.
bool approx_eq(double x, double y);
bool cmp_floats(Comp op, double x, double threshold);
std::optional<bool> cmp_op(const Context& ctx, Comp op, const ContextField& field, double threshold);

// --- bucketing ---
// SHA-1 of `seed`, read as a big-endian 160-bit number, modulo 1000.
uint16_t bucket_of(std::string_view seed);

// --- exposure events ---
// No event when the feature does not emit events; errors for a feature without variant
// set, without bucket_val, or a context without that field.
Result<std::optional<ExperimentEvent>, OrvaneError> make_event(const Feature& feature,
                                                               EventKind kind,
                                                               std::string_view variant_name,
                                                               const Context& ctx);

// --- stages ---
using StageResult = Result<StageOutcome, OrvaneError>;

// How deep holdout and mutex groups may nest within one decision before the decision
// fails: a configuration can chain groups without limit, the call stack cannot.
constexpr int kMaxGroupNesting = 256;

// Decisions of groups that belong to no group themselves, shared by all the decisions of
// one request (choose_all): such a decision depends on nothing but the group and the
// context, and a few holdout and mutex groups usually hold most features.
class SharedGroupDecisions {
 public:
  const InternalResult* find(const Feature* group) const;
  void keep(const Feature* group, const InternalResult& result);

 private:
  std::unordered_map<const Feature*, InternalResult> kept_;
};

// The nested runs (holdout and mutex groups) of one top-level decision. A group that is
// reached again through another path is decided again once and then answered from here,
// so shared groups cost linear rather than exponential time.
class NestedRuns {
 public:
  NestedRuns() = default;
  explicit NestedRuns(SharedGroupDecisions* shared) : shared_(shared) {}

  InternalResult run(const Orvane& engine, const Feature& group, const Context& ctx);

 private:
  std::vector<const Feature*> seen_;
  std::vector<std::pair<const Feature*, InternalResult>> kept_;
  SharedGroupDecisions* shared_ = nullptr;
  int depth_ = 0;
};

InternalResult decide_internal(const Orvane& engine, const Feature& feature, const Context& ctx,
                               NestedRuns& nested);
// decide, with the group decisions of earlier features of the same request at hand.
DecideResult decide(const Orvane& engine, const Feature& feature, const Context& ctx,
                    SharedGroupDecisions& shared);
StageResult run_stage(Stage stage, const Orvane& engine, const Feature& feature,
                      const Context& ctx, NestedRuns& nested);
// The bucketing stage, setting `bucket` when it got as far as hashing the identifier, and
// deciding without the exposure event. The event cannot fail to be made once the stage
// has decided; only its timestamps may keep it from being serialised.
StageResult fractional_availability_without_event(const Feature& feature, const Context& ctx,
                                                  std::optional<uint16_t>& bucket);
// One stage on its own, as the first stage of a fresh decision.
StageResult run_stage(Stage stage, const Orvane& engine, const Feature& feature,
                      const Context& ctx);

}  // namespace orvane
