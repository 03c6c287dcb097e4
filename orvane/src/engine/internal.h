#pragma once
// The engine's internal pieces, shared between its files and tests: the trace hooks,
// targeting evaluation, bucketing, exposure event construction and the stage dispatch.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
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

using StageResult = Result<StageOutcome, OrvaneError>;

// --- trace hooks ---
// The stage code reports what it looks at to a trace handle, so that a decision can be
// explained by the very code that makes it. Deciding passes NoTrace, whose hooks are
// empty inline functions that compile away; explaining passes Traced.

// Receives the observations of one traced decision, in the order they happen.
class Tracer {
 public:
  virtual ~Tracer() = default;
  virtual void stage_begin(Stage stage) = 0;
  virtual void stage_end(const StageResult& result) = 0;
  // The context value a leaf read (std::monostate when absent); the leaf's node_result
  // follows.
  virtual void leaf_read(const FieldView& value) = 0;
  // A tree node's result; children report before their parent.
  virtual void node_result(const TargetingTree& node, std::optional<bool> result) = 0;
  // The bucketing stage's seed, its bucket and the variant that holds it (null for none).
  virtual void bucketed(std::string_view seed, uint16_t bucket, const Variant* chosen) = 0;
  // A holdout or mutex group's nested run, which may be answered without running the
  // chain when the same group was decided earlier in this decision.
  virtual void group_begin(const Feature& group) = 0;
  virtual void group_end(const InternalResult& result) = 0;
};

struct NoTrace {
  void stage_begin(Stage) const {}
  void stage_end(const StageResult&) const {}
  void leaf_read(const FieldView&) const {}
  void node_result(const TargetingTree&, std::optional<bool>) const {}
  void bucketed(std::string_view, uint16_t, const Variant*) const {}
  void group_begin(const Feature&) const {}
  void group_end(const InternalResult&) const {}
};

struct Traced {
  Tracer* tracer;  // never null
  void stage_begin(Stage stage) const { tracer->stage_begin(stage); }
  void stage_end(const StageResult& result) const { tracer->stage_end(result); }
  void leaf_read(const FieldView& value) const { tracer->leaf_read(value); }
  void node_result(const TargetingTree& node, std::optional<bool> result) const {
    tracer->node_result(node, result);
  }
  void bucketed(std::string_view seed, uint16_t bucket, const Variant* chosen) const {
    tracer->bucketed(seed, bucket, chosen);
  }
  void group_begin(const Feature& group) const { tracer->group_begin(group); }
  void group_end(const InternalResult& result) const { tracer->group_end(result); }
};

// --- targeting evaluation: true, false, or no result (nullopt) ---
// Instantiated for NoTrace and Traced.
template <class Trace = NoTrace>
std::optional<bool> eval(const TargetingTree& tree, const Context& ctx, Trace trace = {});
// Not symmetric: `a` is the first value of the comparison.
std::optional<bool> value_eq(const Json& a, const Json& b);
// Decimal text to double: optional sign, digits with an optional point, optional exponent,
// or inf / infinity / nan in any letter case. No blanks, no hex; empty is not a number.
std::optional<double> parse_decimal(std::string_view text);
// Exact, then within 2^-52 absolutely, then at most 4 units in the last place.
bool approx_eq(double x, double y);
bool cmp_floats(Comp op, double x, double threshold);
std::optional<bool> cmp_op(const Context& ctx, Comp op, const ContextField& field, double threshold);
// cmp_op on a value already read from the context.
std::optional<bool> cmp_value(Comp op, const FieldView& value, double threshold);

// --- bucketing ---
// SHA-1 of `seed`, read as a big-endian 160-bit number, modulo 1000.
uint16_t bucket_of(std::string_view seed);

// The seed of one identifier for one feature: id "." name "." shuffle_version identifier,
// with no separator before the identifier. The layout is fixed, since any change would
// move every request to another bucket. Written on the stack when it fits, as it nearly
// always does, so the hot path allocates nothing for it.
class BucketSeed {
 public:
  BucketSeed(const Feature& feature, uint32_t shuffle_version, std::string_view identifier) {
    constexpr size_t kDecimalDigits = 10;  // of a 32-bit number
    const size_t size = 2 * kDecimalDigits + 2 + feature.name.size() + identifier.size();
    char* const seed =
        size <= sizeof stack_ ? stack_ : (heap_ = std::make_unique<char[]>(size)).get();
    char* at = std::to_chars(seed, seed + kDecimalDigits, feature.id).ptr;
    *at++ = '.';
    at = std::copy(feature.name.begin(), feature.name.end(), at);
    *at++ = '.';
    at = std::to_chars(at, at + kDecimalDigits, shuffle_version).ptr;
    at = std::copy(identifier.begin(), identifier.end(), at);
    text_ = std::string_view(seed, static_cast<size_t>(at - seed));
  }
  BucketSeed(const BucketSeed&) = delete;
  BucketSeed& operator=(const BucketSeed&) = delete;

  std::string_view text() const { return text_; }

 private:
  char stack_[256];
  std::unique_ptr<char[]> heap_;
  std::string_view text_;
};

// A bucket as the fraction of the population that variant ranges are written in. Single
// precision throughout, so boundaries such as 0.25 fall where the configured float ranges
// put them.
inline float bucket_fraction(uint16_t bucket) { return static_cast<float>(bucket) / 1000.0f; }
inline bool in_range(const Variant& variant, float fraction) {
  return variant.range_start <= fraction && fraction < variant.range_end;
}

// --- exposure events ---
// No event when the feature does not emit events; errors for a feature without variant
// set, without bucket_val, or a context without that field. The event borrows its texts
// from `feature`, `variant_name` (one of the feature's own) and `ctx`.
Result<std::optional<ExperimentEvent>, OrvaneError> make_event(const Feature& feature,
                                                               EventKind kind,
                                                               std::string_view variant_name,
                                                               const Context& ctx);
// The same for a stage that has read the bucketing field's value from the request already.
Result<std::optional<ExperimentEvent>, OrvaneError> make_event(const Feature& feature,
                                                               EventKind kind,
                                                               std::string_view variant_name,
                                                               const FieldView& identifier);

// --- stages ---
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

  // Instantiated for NoTrace and Traced.
  template <class Trace = NoTrace>
  InternalResult run(const Orvane& engine, const Feature& group, const Context& ctx,
                     Trace trace = {});

 private:
  template <class Trace>
  InternalResult decide_group(const Orvane& engine, const Feature& group, const Context& ctx,
                              Trace trace);

  std::vector<const Feature*> seen_;
  std::vector<std::pair<const Feature*, InternalResult>> kept_;
  SharedGroupDecisions* shared_ = nullptr;
  int depth_ = 0;
};

// Instantiated for NoTrace and Traced.
template <class Trace = NoTrace>
InternalResult decide_internal(const Orvane& engine, const Feature& feature, const Context& ctx,
                               NestedRuns& nested, Trace trace = {});
// Serialises the decision's events into the public Decision, as decide does.
DecideResult finish_decision(InternalResult internal, const Context& ctx);
// decide, with the group decisions of earlier features of the same request at hand.
DecideResult decide(const Orvane& engine, const Feature& feature, const Context& ctx,
                    SharedGroupDecisions& shared);
// Instantiated for NoTrace and Traced.
template <class Trace = NoTrace>
StageResult run_stage(Stage stage, const Orvane& engine, const Feature& feature,
                      const Context& ctx, NestedRuns& nested, Trace trace = {});
// The bucketing stage, setting `bucket` when it got as far as hashing the identifier, and
// deciding without the exposure event. The event cannot fail to be made once the stage
// has decided; only its timestamps may keep it from being serialised.
StageResult fractional_availability_without_event(const Feature& feature, const Context& ctx,
                                                  std::optional<uint16_t>& bucket);
// One stage on its own, as the first stage of a fresh decision.
StageResult run_stage(Stage stage, const Orvane& engine, const Feature& feature,
                      const Context& ctx);

}  // namespace orvane
