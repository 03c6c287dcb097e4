#include "engine/orvane.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/overloaded.h"
#include "engine/internal.h"

namespace orvane {

namespace {

// The indices of the features choose_all decides, in feature order. Of features sharing a
// name, only the last one choose_all decides gives the entry, so the others are not decided
// at all. Walking back from the end finds it first; names that are unique, nearly always
// all of them, need no look-up.
std::vector<size_t> indices_decided(const Orvane& engine,
                                    const std::optional<ContextField>& identifier_type) {
  const FeatureList& features = engine.features();
  std::vector<size_t> decided;
  std::unordered_set<std::string_view> names_taken;
  for (size_t i = features.size(); i-- > 0;) {
    const Feature& feature = *features[i];
    if (!decided_by_choose_all(feature, identifier_type)) continue;
    if (engine.shares_name(i) && !names_taken.emplace(feature.name).second) continue;
    decided.push_back(i);
  }
  std::reverse(decided.begin(), decided.end());
  return decided;
}

}  // namespace

Orvane::Orvane(FeatureList features, std::vector<Stage> chain)
    : features_(std::move(features)), chain_(std::move(chain)) {
  // The views point into the features, which are shared immutable objects, so they stay
  // valid however the engine itself is moved or copied. emplace keeps the first index of a
  // name, which is the feature a linear scan would find.
  first_by_name_.reserve(features_.size());
  std::vector<size_t> repeated;  // indices of names met before
  for (size_t i = 0; i < features_.size(); ++i) {
    if (!first_by_name_.emplace(std::string_view(features_[i]->name), i).second) {
      repeated.push_back(i);
    }
  }
  if (!repeated.empty()) {
    shared_names_.assign(features_.size(), false);
    for (size_t i : repeated) {
      shared_names_[i] = true;
      shared_names_[first_by_name_.find(features_[i]->name)->second] = true;
    }
  }
  decided_by_default_ = indices_decided(*this, std::nullopt);
}

const Feature* Orvane::find_feature(std::string_view name) const {
  auto it = first_by_name_.find(name);
  if (it == first_by_name_.end()) return nullptr;
  return features_[it->second].get();
}

const InternalResult* SharedGroupDecisions::find(const Feature* group) const {
  auto it = kept_.find(group);
  return it == kept_.end() ? nullptr : &it->second;
}

void SharedGroupDecisions::keep(const Feature* group, const InternalResult& result) {
  kept_.emplace(group, result);
}

namespace {

// A group outside any group decides without nested runs, so its decision is the same
// wherever and however deep it is reached.
bool decides_alone(const Feature& group) {
  return !group.variant_set || (!group.variant_set->holdout && !group.variant_set->mutex_group);
}

}  // namespace

template <class Trace>
InternalResult NestedRuns::run(const Orvane& engine, const Feature& group, const Context& ctx,
                               Trace trace) {
  trace.group_begin(group);
  InternalResult result = decide_group(engine, group, ctx, trace);
  trace.group_end(result);
  return result;
}

template InternalResult NestedRuns::run(const Orvane&, const Feature&, const Context&, NoTrace);
template InternalResult NestedRuns::run(const Orvane&, const Feature&, const Context&, Traced);

template <class Trace>
InternalResult NestedRuns::decide_group(const Orvane& engine, const Feature& group,
                                        const Context& ctx, Trace trace) {
  for (const auto& [feature, result] : kept_) {
    if (feature == &group) return result;
  }
  if (depth_ >= kMaxGroupNesting) {
    return OrvaneError{errors::Generic{"Holdout and mutex groups nest deeper than " +
                                       std::to_string(kMaxGroupNesting) + " levels."}};
  }
  const bool shareable = shared_ != nullptr && decides_alone(group);
  if (shareable) {
    if (const InternalResult* known = shared_->find(&group)) return *known;
  }
  // Most groups are reached once per decision; only a group met a second time is kept, so
  // the common case copies nothing.
  bool again = std::find(seen_.begin(), seen_.end(), &group) != seen_.end();
  if (!again) seen_.push_back(&group);
  ++depth_;
  InternalResult result = decide_internal(engine, group, ctx, *this, trace);
  --depth_;
  if (again) kept_.emplace_back(&group, result);
  if (shareable) shared_->keep(&group, result);
  return result;
}

InternalResult decide_internal(const Orvane& engine, const Feature& feature, const Context& ctx) {
  NestedRuns nested;
  return decide_internal(engine, feature, ctx, nested);
}

namespace {

// The chain's loop. `run` runs one stage given its index in the chain, and `ended_at`
// hears the index of the stage that decided; choose passes a plain dispatch and a no-op,
// so its loop is the same code as if written for it alone. Both are taken by reference:
// a copy of the capture block, written and read back at once, stalls on every decision.
template <class RunStage, class EndedAt>
InternalResult run_chain(const std::vector<Stage>& chain, const RunStage& run,
                         const EndedAt& ended_at) {
  // Events handed over by Continue; they reach the caller only if a later stage decides.
  std::vector<ExperimentEvent> carried;
  for (size_t index = 0; index < chain.size(); ++index) {
    StageResult result = run(chain[index], index);
    if (!result) return std::move(result).error();
    // Each alternative says whether the run ends here or goes on; visiting makes a new
    // outcome alternative a compile error until it is handled.
    const bool ends = std::visit(
        Overloaded{
            [](outcome::Pass&) { return false; },
            [](outcome::NoDecision&) { return true; },
            [&](outcome::Continue& handed) {
              carried.insert(carried.end(), std::make_move_iterator(handed.events.begin()),
                             std::make_move_iterator(handed.events.end()));
              return false;
            },
            [&](outcome::Decided& decided) {
              // Exposures handed over by earlier stages happened first, so they lead.
              std::vector<ExperimentEvent>& events = decided.decision.events;
              if (!carried.empty()) {
                carried.insert(carried.end(), std::make_move_iterator(events.begin()),
                               std::make_move_iterator(events.end()));
                events = std::move(carried);
              }
              return true;
            },
        },
        *result);
    if (!ends) continue;
    // The decision moves once, straight into the result.
    if (auto* decided = std::get_if<outcome::Decided>(&*result)) {
      ended_at(index);
      return InternalResult(std::move(decided->decision));
    }
    return InternalResult(std::optional<InternalDecision>());
  }
  return std::optional<InternalDecision>();
}

}  // namespace

template <class Trace>
InternalResult decide_internal(const Orvane& engine, const Feature& feature, const Context& ctx,
                               NestedRuns& nested, Trace trace) {
  return run_chain(
      engine.chain(),
      [&](Stage stage, size_t) {
        trace.stage_begin(stage);
        StageResult result = run_stage(stage, engine, feature, ctx, nested, trace);
        trace.stage_end(result);
        return result;
      },
      [](size_t) {});
}

template InternalResult decide_internal(const Orvane&, const Feature&, const Context&,
                                        NestedRuns&, NoTrace);
template InternalResult decide_internal(const Orvane&, const Feature&, const Context&,
                                        NestedRuns&, Traced);

ObservedRun decide_observed(const Orvane& engine, const Feature& feature, const Context& ctx) {
  ObservedRun run;
  NestedRuns nested;
  bool own_event = false;  // whether the feature's own bucketing decided, leaving out its event
  InternalResult result = run_chain(
      engine.chain(),
      [&](Stage stage, size_t) {
        // Only the feature's own bucketing stage is observed; nested runs of its groups go
        // through the plain dispatch.
        if (stage == Stage::FractionalAvailability) {
          StageResult outcome = fractional_availability_without_event(feature, ctx, run.bucket);
          own_event = outcome && std::holds_alternative<outcome::Decided>(*outcome);
          return outcome;
        }
        return run_stage(stage, engine, feature, ctx, nested);
      },
      [&](size_t index) { run.decided_at = index; });
  if (result && *result) {
    const VariantSet& set = *feature.variant_set;  // present whenever bucketing decided
    const bool own_event_fits = !own_event || !feature.emit_event ||
                                (timestamp_fits(set.start_ts) && timestamp_fits(set.stop_ts));
    if (!own_event_fits || !timestamps_fit((*result)->events)) {
      // choose would fail to serialise these events; a batch gives the same answer.
      result = OrvaneError{errors::MalformedEvent{kTimestampOutOfRange}};
    }
  }
  run.result = std::move(result);
  return run;
}

DecideResult finish_decision(InternalResult internal, const Context& ctx) {
  if (!internal) return std::move(internal).error();
  if (!*internal) return std::optional<Decision>();
  InternalDecision& decision = **internal;

  // Most decisions expose nothing: they need no stamp, and cannot fail to get one.
  SerializedEvents events;
  if (!decision.events.empty()) {
    auto serialized = serialize_events(ctx, std::move(decision.events));
    if (!serialized) {
      return OrvaneError{errors::MalformedEvent{std::move(serialized.error().message)}};
    }
    events = std::move(serialized).value();
  }
  return DecideResult(Decision{
      .feature_id = decision.feature_id,
      .feature_name = std::string(decision.feature_name),
      .feature_version = decision.feature_version,
      .variant_name = decision.variant_name ? std::optional<std::string>(*decision.variant_name)
                                            : std::nullopt,
      .value = std::move(decision.value),
      .value_type = decision.value_type,
      .events = std::move(events),
  });
}

DecideResult decide(const Orvane& engine, const Feature& feature, const Context& ctx) {
  return finish_decision(decide_internal(engine, feature, ctx), ctx);
}

DecideResult decide(const Orvane& engine, const Feature& feature, const Context& ctx,
                    SharedGroupDecisions& shared) {
  NestedRuns nested(&shared);
  return finish_decision(decide_internal(engine, feature, ctx, nested), ctx);
}

Result<const Feature*, OrvaneError> chosen_feature(
    const Orvane& engine, std::string_view name, const std::optional<ContextField>& identifier_type) {
  Result<const Feature*, OrvaneError> found = feature_by_name(engine, name);
  if (!found) return found;
  const Feature* feature = *found;
  if (identifier_type) {
    // The identifier type does not pick the bucketing field; it guards against a caller
    // that means another identifier than the one the feature is bucketed by.
    if (!feature->variant_set || !feature->variant_set->bucket_val) {
      return OrvaneError{errors::InvalidFeature{}};
    }
    const ContextField& configured = *feature->variant_set->bucket_val;
    if (!(*identifier_type == configured)) {
      return OrvaneError{errors::IdentifierTypeMismatch{*identifier_type, configured}};
    }
  }
  return feature;
}

DecideResult choose(const Orvane& engine, std::string_view name, const Context& ctx,
                    const std::optional<ContextField>& identifier_type) {
  Result<const Feature*, OrvaneError> feature = chosen_feature(engine, name, identifier_type);
  if (!feature) return std::move(feature).error();
  return decide(engine, **feature, ctx);
}

bool decided_by_choose_all(const Feature& feature,
                           const std::optional<ContextField>& identifier_type) {
  if (feature.type == ExperimentType::DynamicConfig) return false;
  if (!identifier_type) return true;
  const auto& set = feature.variant_set;
  return set && set->bucket_val && *set->bucket_val == *identifier_type;
}

const DecideResult* AllDecisions::find(std::string_view name) const {
  for (const Entry& entry : entries_) {
    if (entry.first == name) return &entry.second;
  }
  return nullptr;
}

namespace {

// Deciding a feature reads its record and, behind pointers, its override list, its
// variants and the top of its targeting tree: blocks scattered over the heap, which a
// request over every feature would otherwise wait for one after another. Each is asked for
// ahead of the feature's turn, once the block that points to it has arrived: the record
// three features ahead, what it points to two ahead, the level after that one ahead. Only
// the first line of each block is asked for; asking for whole lists measured slower.
void prefetch_record(const Feature& feature) {
  constexpr size_t kLine = 64;
  const char* at = reinterpret_cast<const char*>(&feature);
  for (size_t offset = 0; offset < sizeof(Feature); offset += kLine) __builtin_prefetch(at + offset);
}

// The storage of a tree node's children: what evaluating it reads next.
void prefetch_children(const TargetingTree& tree) {
  std::visit(Overloaded{
                 [](const AllNode& node) { __builtin_prefetch(node.children.data()); },
                 [](const AnyNode& node) { __builtin_prefetch(node.children.data()); },
                 [](const NotNode& node) { __builtin_prefetch(node.child.get()); },
                 [](const auto&) {},
             },
             tree.node);
}

void prefetch_parts(const Feature& feature) {
  if (feature.overrides) __builtin_prefetch(feature.overrides->data());
  if (feature.variant_set) __builtin_prefetch(feature.variant_set->variants.data());
  if (feature.targeting) prefetch_children(*feature.targeting);
}

void prefetch_grandchildren(const Feature& feature) {
  if (!feature.targeting) return;
  std::visit(Overloaded{
                 [](const AllNode& node) {
                   for (const TargetingTree& child : node.children) prefetch_children(child);
                 },
                 [](const AnyNode& node) {
                   for (const TargetingTree& child : node.children) prefetch_children(child);
                 },
                 [](const auto&) {},
             },
             feature.targeting->node);
}

// `order` lists the features to decide; `k` is the position of the one about to be.
void prefetch_ahead(const FeatureList& features, const std::vector<size_t>& order, size_t k) {
  if (k + 3 < order.size()) prefetch_record(*features[order[k + 3]]);
  if (k + 2 < order.size()) prefetch_parts(*features[order[k + 2]]);
  if (k + 1 < order.size()) prefetch_grandchildren(*features[order[k + 1]]);
}

}  // namespace

AllDecisions choose_all(const Orvane& engine, const Context& ctx,
                        const std::optional<ContextField>& identifier_type) {
  const FeatureList& features = engine.features();
  std::vector<size_t> filtered;
  if (identifier_type) filtered = indices_decided(engine, identifier_type);
  const std::vector<size_t>& order = identifier_type ? filtered : engine.decided_by_default();

  std::vector<AllDecisions::Entry> entries;
  entries.reserve(order.size());
  SharedGroupDecisions groups;
  for (size_t k = 0; k < order.size(); ++k) {
    prefetch_ahead(features, order, k);
    const Feature& feature = *features[order[k]];
    entries.emplace_back(feature.name, decide(engine, feature, ctx, groups));
  }
  return AllDecisions(std::move(entries));
}

}  // namespace orvane
