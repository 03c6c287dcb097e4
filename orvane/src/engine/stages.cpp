#include <string>
#include <string_view>
#include <utility>

#include "engine/internal.h"

namespace orvane {
namespace {

using outcome::Continue;
using outcome::Decided;
using outcome::NoDecision;
using outcome::Pass;

// Variant names of a holdout group's decision that mean something to the held feature.
constexpr std::string_view kHoldoutVariant = "holdout";
constexpr std::string_view kControlVariant = "control_1";

// The decision a feature gets from a stage that picked a variant, with the exposure event
// (if the feature emits one) as its only event.
InternalDecision variant_decision(const Feature& feature, std::string_view variant, Json value,
                                  std::optional<ExperimentEvent> event,
                                  std::optional<ValueType> value_type) {
  InternalDecision decision{
      .feature_name = feature.name,
      .variant_name = variant,
      .value = std::move(value),
      .events = {},
      .feature_id = feature.id,
      .feature_version = feature.version,
      .value_type = value_type,
  };
  if (event) decision.events.push_back(std::move(*event));
  return decision;
}

StageResult darkmode(const Feature& feature) {
  if (feature.enabled) return Pass{"darkmode:enabled"};
  return NoDecision{};
}

// Lets everything through; the two reasons keep the enabled flag visible to a reader of
// the chain without acting on it.
StageResult locale(const Feature& feature) {
  return Pass{feature.enabled ? "locale:fixme2" : "locale:fixme"};
}

template <class Trace>
StageResult targeting(const Feature& feature, const Context& ctx, Trace trace) {
  if (!feature.targeting) return Pass{"targeting:none_found"};
  // A tree that cannot be decided for this request keeps the feature out, like false.
  if (eval(*feature.targeting, ctx, trace) == std::optional<bool>(true)) {
    return Pass{"targeting:targeted"};
  }
  return NoDecision{};
}

template <class Trace>
StageResult overrides(const Feature& feature, const Context& ctx, Trace trace) {
  if (!feature.overrides) return Pass{"overrides:none_found"};
  const std::string* winner = nullptr;
  for (const OverrideMap& map : *feature.overrides) {
    for (const auto& [variant, tree] : map) {
      std::optional<bool> hit = eval(tree, ctx, trace);
      // An undecidable tree ends the search: trying later entries could pick a variant
      // that an earlier, undecidable override was meant to take precedence over.
      if (!hit) return Pass{"t.eval:err"};
      if (*hit) {
        winner = &variant;
        break;
      }
    }
    if (winner) break;
  }
  if (!winner) return Pass{"overrides:none_hit"};

  auto event = make_event(feature, EventKind::Override, *winner, ctx);
  if (!event) return std::move(event).error();
  return Decided{
      variant_decision(feature, *winner, Json(*winner), std::move(*event), ValueType::String)};
}

// Marks the first event as handed over by `kind`; the events after it keep the kind of
// the stage that made them.
void mark_first(std::vector<ExperimentEvent>& events, EventKind kind) {
  if (!events.empty()) events.front().kind = kind;
}

template <class Trace>
StageResult holdout(const Orvane& engine, const Feature& feature, const Context& ctx,
                    NestedRuns& nested_runs, Trace trace) {
  if (!feature.variant_set || !feature.variant_set->holdout) return Pass{"no_holdout_group"};
  const Feature& group = *feature.variant_set->holdout;
  InternalResult nested = nested_runs.run(engine, group, ctx, trace);
  if (!nested) return std::move(nested).error();
  std::optional<InternalDecision>& held = *nested;
  if (!held || !held->variant_name) return Pass{"in_holdout:false"};

  mark_first(held->events, EventKind::Holdout);
  if (*held->variant_name == kHoldoutVariant) {
    return Decided{InternalDecision{
        .feature_name = feature.name,
        .variant_name = std::nullopt,
        .value = group.value ? *group.value : Json(),
        .events = std::move(held->events),
        .feature_id = feature.id,
        .feature_version = feature.version,
        .value_type = group.value_type,
    }};
  }
  if (*held->variant_name == kControlVariant) return Continue{std::move(held->events)};
  return Pass{"in_holdout:false"};
}

template <class Trace>
StageResult mutex_group(const Orvane& engine, const Feature& feature, const Context& ctx,
                        NestedRuns& nested_runs, Trace trace) {
  if (!feature.variant_set || !feature.variant_set->mutex_group) return Pass{"no_mutex_group"};
  InternalResult nested = nested_runs.run(engine, *feature.variant_set->mutex_group, ctx, trace);
  if (!nested) return std::move(nested).error();
  std::optional<InternalDecision>& assigned = *nested;
  // The group's variants are named after its members; only the member it assigned the
  // request to may go on.
  if (!assigned || assigned->variant_name != feature.name) return NoDecision{};
  mark_first(assigned->events, EventKind::MutexGroup);
  return Continue{std::move(assigned->events)};
}

// `trace` hears the seed, the bucket and the variant chosen; choose passes NoTrace, whose
// hook compiles away, a batch keeps the bucket for its output. A batch also makes no
// exposure event (kWithEvent false): it would only be thrown away.
template <bool kWithEvent = true, class Trace>
StageResult fractional_availability(const Feature& feature, const Context& ctx, Trace trace) {
  if (!feature.variant_set) return Pass{"frac_avail:no variant_set"};
  const VariantSet& set = *feature.variant_set;
  if (!set.bucket_val) return OrvaneError{errors::MissingBucketValInConfig{}};
  FieldView identifier = view_field(*set.bucket_val, ctx);
  if (std::holds_alternative<std::monostate>(identifier)) {
    return OrvaneError{errors::MissingBucketValInContext{*set.bucket_val}};
  }

  // The identifier as the seed spells it; only a JSON value from other_fields needs
  // rendering first.
  std::string rendered;
  std::string_view identifier_text;
  if (const auto* text = std::get_if<std::string_view>(&identifier)) {
    identifier_text = *text;
  } else {
    append_identifier_text(rendered, identifier);
    identifier_text = rendered;
  }

  const BucketSeed seed(feature, set.shuffle_version, identifier_text);
  const uint16_t bucket = bucket_of(seed.text());
  const float x = bucket_fraction(bucket);
  const Variant* chosen = nullptr;
  for (const Variant& variant : set.variants) {
    if (in_range(variant, x)) {
      chosen = &variant;
      break;
    }
  }
  trace.bucketed(seed.text(), bucket, chosen);
  if (!chosen) return Pass{"frac_avail:not in variants"};

  if constexpr (!kWithEvent) {
    return Decided{variant_decision(feature, chosen->name, Json(), std::nullopt, std::nullopt)};
  } else {
    auto event = make_event(feature, EventKind::FracAvail, chosen->name, identifier);
    if (!event) return std::move(event).error();
    return Decided{
        variant_decision(feature, chosen->name, Json(), std::move(*event), std::nullopt)};
  }
}

StageResult value(const Feature& feature) {
  if (!feature.value) return NoDecision{};
  const Json& configured = *feature.value;
  // Null and arrays are not values a dynamic configuration can hand out; a later stage
  // may still decide.
  if (configured.is_null() || configured.is_array()) return Pass{"value:null_or_array"};
  return Decided{InternalDecision{
      .feature_name = feature.name,
      .variant_name = std::nullopt,
      .value = configured,
      .events = {},
      .feature_id = feature.id,
      .feature_version = feature.version,
      .value_type = feature.value_type,
  }};
}

}  // namespace

template <class Trace>
StageResult run_stage(Stage stage, const Orvane& engine, const Feature& feature,
                      const Context& ctx, NestedRuns& nested, Trace trace) {
  switch (stage) {
    case Stage::Darkmode: return darkmode(feature);
    case Stage::Locale: return locale(feature);
    case Stage::Targeting: return targeting(feature, ctx, trace);
    case Stage::Overrides: return overrides(feature, ctx, trace);
    case Stage::Holdout: return holdout(engine, feature, ctx, nested, trace);
    case Stage::MutexGroup: return mutex_group(engine, feature, ctx, nested, trace);
    case Stage::FractionalAvailability: return fractional_availability(feature, ctx, trace);
    case Stage::Value: return value(feature);
  }
  return Pass{"unknown stage"};  // unreachable: the switch covers every Stage
}

template StageResult run_stage(Stage, const Orvane&, const Feature&, const Context&,
                               NestedRuns&, NoTrace);
template StageResult run_stage(Stage, const Orvane&, const Feature&, const Context&,
                               NestedRuns&, Traced);

StageResult fractional_availability_without_event(const Feature& feature, const Context& ctx,
                                                  std::optional<uint16_t>& bucket) {
  // Only the bucket is kept; the stage reports nothing else to this trace.
  struct KeepBucket {
    std::optional<uint16_t>* kept;
    void bucketed(std::string_view, uint16_t bucket, const Variant*) const { *kept = bucket; }
  };
  return fractional_availability<false>(feature, ctx, KeepBucket{&bucket});
}

StageResult run_stage(Stage stage, const Orvane& engine, const Feature& feature,
                      const Context& ctx) {
  NestedRuns nested;
  return run_stage(stage, engine, feature, ctx, nested);
}

}  // namespace orvane
