#include "lint/preview.h"

#include <charconv>
#include <utility>
#include <variant>

#include "engine/internal.h"
#include "events/serialized_events.h"
#include "lint/buckets.h"
#include "lint/field_types.h"
#include "lint/identifiers.h"

namespace orvane::lint {
namespace {

// Watches one run of the chain for what a count needs: the stage that stopped it, the
// targeting tree's answer, the mutex group's answer and where bucketing put the request.
// Only the feature's own stages count; the runs of its groups are told apart by depth.
class RunObserver final : public Tracer {
 public:
  void reset() {
    stopped_by.reset();
    tree_result.reset();
    reached_bucketing = false;
    chosen = nullptr;
    group_variant.reset();
    depth_ = 0;
    current_.reset();
  }

  void stage_begin(Stage stage) override {
    if (depth_ == 0) current_ = stage;
  }
  void stage_end(const StageResult& result) override {
    if (depth_ == 0 && result && std::holds_alternative<outcome::NoDecision>(*result)) {
      stopped_by = current_;
    }
  }
  void leaf_read(const FieldView&) override {}
  void node_result(const TargetingTree&, std::optional<bool> result) override {
    // Children report before their parent, so the last node of the stage is the root.
    if (depth_ == 0 && current_ == Stage::Targeting) tree_result = result;
  }
  void bucketed(std::string_view, uint16_t, const Variant* variant) override {
    if (depth_ != 0) return;
    reached_bucketing = true;
    chosen = variant;
  }
  void group_begin(const Feature&) override { ++depth_; }
  void group_end(const InternalResult& result) override {
    if (--depth_ != 0) return;
    group_variant.reset();
    if (result && *result && (*result)->variant_name) group_variant = *(*result)->variant_name;
  }

  std::optional<Stage> stopped_by;
  std::optional<bool> tree_result;
  bool reached_bucketing = false;
  const Variant* chosen = nullptr;
  std::optional<std::string> group_variant;  // of the last group the feature itself ran

 private:
  int depth_ = 0;
  std::optional<Stage> current_;
};

void add(std::vector<NamedCount>& counts, std::string_view name) {
  for (NamedCount& entry : counts) {
    if (entry.name == name) {
      ++entry.count;
      return;
    }
  }
  counts.push_back({std::string(name), 1});
}

void add_stop(PreviewTally& tally, std::string_view stage, std::string reason) {
  for (StopCount& entry : tally.no_decision) {
    if (entry.stage == stage && entry.reason == reason) {
      ++entry.count;
      return;
    }
  }
  tally.no_decision.push_back({std::string(stage), std::move(reason), 1});
}

// Why a run that ended without a decision did so, as a stage and a reason. A request whose
// bucket no range holds is passed on by bucketing and stopped by a later stage (or by the
// end of the chain); the gap is what left it out, so it is counted there.
void count_no_decision(const Feature& feature, const RunObserver& run, PreviewTally& tally) {
  if (run.reached_bucketing && run.chosen == nullptr) {
    add_stop(tally, stage_name(Stage::FractionalAvailability), "bucket falls in no variant's range");
    return;
  }
  if (!run.stopped_by) {
    add_stop(tally, "", "no stage decided");
    return;
  }
  const Stage stage = *run.stopped_by;
  std::string reason;
  switch (stage) {
    case Stage::Darkmode: reason = "feature disabled"; break;
    case Stage::Targeting:
      reason = run.tree_result ? "targeting tree is false"
                               : "targeting tree has no result (a field it reads is absent or "
                                 "does not compare)";
      break;
    case Stage::MutexGroup: {
      const std::string& group = feature.variant_set->mutex_group->name;
      reason = run.group_variant ? "mutex group " + group + " assigned " + *run.group_variant
                                 : "mutex group " + group + " gave no variant";
      break;
    }
    case Stage::Value: reason = "no value configured"; break;
    case Stage::Locale:
    case Stage::Overrides:
    case Stage::Holdout:
    case Stage::FractionalAvailability: reason = "no decision"; break;  // these never stop a run
  }
  add_stop(tally, stage_name(stage), std::move(reason));
}

void tally_one(const Orvane& engine, const Feature& feature, const Context& ctx,
               RunObserver& run, PreviewTally& tally) {
  run.reset();
  NestedRuns nested;
  InternalResult result = decide_internal(engine, feature, ctx, nested, Traced{&run});
  ++tally.total;
  if (run.reached_bucketing) {
    const size_t gap = tally.bucketed.size() - 1;
    const VariantSet& set = *feature.variant_set;
    ++tally.bucketed[run.chosen ? static_cast<size_t>(run.chosen - set.variants.data()) : gap];
  }
  if (!result) {
    add(tally.errors, result.error().display());
    return;
  }
  if (!*result) {
    count_no_decision(feature, run, tally);
    return;
  }
  const InternalDecision& decision = **result;
  // choose answers with this error when it cannot serialise the decision's events.
  if (!timestamps_fit(decision.events)) {
    add(tally.errors, OrvaneError{errors::MalformedEvent{kTimestampOutOfRange}}.display());
    return;
  }
  if (decision.variant_name) {
    add(tally.variants, *decision.variant_name);
  } else {
    ++tally.without_variant;
  }
}

// set_identifier words its message with the identifier in quotes first; counted messages
// say "identifier" instead, so that every identifier of one kind counts once.
std::string counted_message(std::string_view identifier, const std::string& message) {
  return "identifier" + message.substr(identifier.size() + 2);
}

bool holds_integers(const ContextField& field) {
  const FieldKind kind = field_kind(field);
  return kind == FieldKind::Int32 || kind == FieldKind::Int64;
}

template <class EachIdentifier>
void tally_all(const Orvane& engine, const Feature& feature, const Context& base,
               PreviewTally& tally, EachIdentifier each) {
  if (tally.bucketed.empty()) {
    tally.bucketed.assign(feature.variant_set ? feature.variant_set->variants.size() + 1 : 1, 0);
  }
  const ContextField field = identifier_field(feature);
  Context ctx = base;
  RunObserver run;
  each([&](std::string_view identifier) {
    if (std::optional<std::string> wrong = set_identifier(ctx, field, identifier)) {
      ++tally.total;
      add(tally.errors, counted_message(identifier, *wrong));
      ctx = base;
      return;
    }
    tally_one(engine, feature, ctx, run, tally);
  });
}

}  // namespace

std::vector<uint64_t> range_buckets(const Feature& feature) {
  if (!feature.variant_set) return {};
  const std::vector<Variant>& variants = feature.variant_set->variants;
  std::vector<uint64_t> counts(variants.size() + 1, 0);
  for (int32_t index : bucket_variants(variants)) {
    ++counts[index == kNoVariant ? variants.size() : static_cast<size_t>(index)];
  }
  return counts;
}

void tally_identifiers(const Orvane& engine, const Feature& feature, const Context& base,
                       const std::vector<std::string_view>& identifiers, PreviewTally& tally) {
  tally_all(engine, feature, base, tally, [&](auto decide) {
    for (std::string_view identifier : identifiers) decide(identifier);
  });
}

void tally_generated(const Orvane& engine, const Feature& feature, const Context& base,
                     uint64_t first, uint64_t last, PreviewTally& tally) {
  const bool numbers = holds_integers(identifier_field(feature));
  tally_all(engine, feature, base, tally, [&](auto decide) {
    char text[24] = {'u'};
    char* const digits = numbers ? text : text + 1;
    for (uint64_t i = first; i < last; ++i) {
      char* end = std::to_chars(digits, text + sizeof text, i).ptr;
      decide(std::string_view(text, static_cast<size_t>(end - text)));
    }
  });
}

}  // namespace orvane::lint
