#include "engine/explain.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "base/overloaded.h"
#include "engine/explain_steps.h"
#include "engine/internal.h"

namespace orvane {
namespace {

// Groups nested deeper than this are explained by their answer alone: their steps would
// bury the question asked in pages of text, and a consumer of the JSON that recurses
// (Python's json module, for one) has a depth limit of its own.
constexpr size_t kMaxExplainedNesting = 32;

Json read_value(const FieldView& value) {
  return std::visit(Overloaded{
                        [](std::monostate) { return Json(); },
                        [](std::string_view text) { return Json(std::string(text)); },
                        [](bool b) { return Json(b); },
                        [](int64_t i) { return Json(i); },
                        [](const Json* json) { return *json; },
                    },
                    value);
}

// The decision part of an explanation, from the run's own answer.
void take_answer(Explanation& out, const InternalResult& result) {
  if (!result) {
    out.error = result.error().display();
    return;
  }
  if (!*result) return;
  const InternalDecision& decision = **result;
  if (decision.variant_name) out.variant = std::string(*decision.variant_name);
  out.value = decision.value;
  out.value_type = decision.value_type;
  for (const ExperimentEvent& event : decision.events) {
    out.events.push_back(
        {event.kind, std::string(event.feature_name), std::string(event.variant_name)});
  }
  if (!out.steps.empty() && out.steps.back().outcome == StepOutcome::Decided) {
    out.decided_by = out.steps.back().stage;
  }
}

// Collects the hooks' reports into one explanation per run: the top-level feature's, and
// one for each holdout or mutex group run inside it, attached to the step that ran it.
class Recorder final : public Tracer {
 public:
  explicit Recorder(const Feature& feature) { frames_.push_back(Frame{&feature, {}, {}}); }

  // The top-level run's explanation, taking `result` as its answer.
  Explanation finish(const InternalResult& result) {
    return close(std::move(frames_.front()), result);
  }

  void stage_begin(Stage stage) override {
    Frame& frame = frames_.back();
    frame.seen = StageSeen{frame.feature, stage, {}, {}, {}};
  }

  void stage_end(const StageResult& result) override {
    Frame& frame = frames_.back();
    if (frame.seen.bucketing) {
      frame.explanation.bucket = frame.seen.bucketing->bucket;
      frame.explanation.seed = frame.seen.bucketing->seed;
    }
    frame.explanation.steps.push_back(describe_step(frame.seen, result));
  }

  void leaf_read(const FieldView& value) override {
    pending_read_ = std::holds_alternative<std::monostate>(value)
                        ? std::optional<Json>()
                        : std::optional<Json>(read_value(value));
    leaf_pending_ = true;
  }

  void node_result(const TargetingTree& node, std::optional<bool> result) override {
    // A leaf reads its field before it answers and has no children, so a pending read
    // belongs to the node answering now.
    frames_.back().seen.nodes[&node] = NodeSeen{result, leaf_pending_, std::move(pending_read_)};
    leaf_pending_ = false;
    pending_read_.reset();
  }

  void bucketed(std::string_view seed, uint16_t bucket, const Variant* chosen) override {
    frames_.back().seen.bucketing = BucketSeen{std::string(seed), bucket, chosen};
  }

  void group_begin(const Feature& group) override {
    frames_.push_back(Frame{&group, {}, {}});
    frames_.back().explanation.feature = group.name;
  }

  void group_end(const InternalResult& result) override {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    const bool again =
        std::find(explained_.begin(), explained_.end(), frame.feature) != explained_.end();
    const bool ran = !frame.explanation.steps.empty();
    explained_.push_back(frame.feature);
    Explanation nested = close(std::move(frame), result);
    if (!ran && again && !nested.error) {
      nested.note = "decided earlier in this decision; the same answer is used again";
    } else if (frames_.size() > kMaxExplainedNesting) {
      nested.steps.clear();
      nested.note =
          "nested deeper than " + std::to_string(kMaxExplainedNesting) + " groups; steps not shown";
    }
    frames_.back().seen.group = std::move(nested);
  }

 private:
  struct Frame {
    const Feature* feature;
    Explanation explanation;
    StageSeen seen;  // of the stage running now
  };

  static Explanation close(Frame frame, const InternalResult& result) {
    Explanation out = std::move(frame.explanation);
    out.feature = frame.feature->name;
    take_answer(out, result);
    return out;
  }

  std::vector<Frame> frames_;
  std::vector<const Feature*> explained_;
  bool leaf_pending_ = false;
  std::optional<Json> pending_read_;
};

OrderedJson optional_text(const std::optional<std::string>& text) {
  return text ? OrderedJson(*text) : OrderedJson();
}

}  // namespace

std::string_view step_outcome_name(StepOutcome outcome) {
  switch (outcome) {
    case StepOutcome::Pass: return "pass";
    case StepOutcome::Continue: return "continue";
    case StepOutcome::Stop: return "stop";
    case StepOutcome::Decided: return "decided";
    case StepOutcome::Error: return "error";
  }
  return "";  // unreachable: the switch covers every outcome
}

Explanation explain(const Orvane& engine, std::string_view name, const Context& ctx,
                    const std::optional<ContextField>& identifier_type) {
  Result<const Feature*, OrvaneError> found = chosen_feature(engine, name, identifier_type);
  if (!found) {
    Explanation out;
    out.feature = std::string(name);
    out.error = found.error().display();
    return out;
  }
  const Feature& feature = **found;
  Recorder recorder(feature);
  NestedRuns nested;
  InternalResult internal = decide_internal(engine, feature, ctx, nested, Traced{&recorder});
  Explanation out = recorder.finish(internal);
  // The events are serialised as choose does, since that can fail too and choose then
  // answers with that error instead of the decision.
  DecideResult decided = finish_decision(std::move(internal), ctx);
  if (!decided) {
    Explanation failed;
    failed.feature = std::move(out.feature);
    failed.error = decided.error().display();
    failed.bucket = out.bucket;
    failed.seed = std::move(out.seed);
    failed.steps = std::move(out.steps);
    return failed;
  }
  return out;
}

OrderedJson explanation_json(const Explanation& explanation) {
  OrderedJson out = OrderedJson::object();
  out["feature"] = explanation.feature;
  out["variant"] = optional_text(explanation.variant);
  out["value"] = OrderedJson(explanation.value);
  out["value_type"] = explanation.value_type
                          ? OrderedJson(std::string(value_type_text(*explanation.value_type)))
                          : OrderedJson();
  out["error"] = optional_text(explanation.error);
  out["decided_by"] = explanation.decided_by
                          ? OrderedJson(std::string(stage_name(*explanation.decided_by)))
                          : OrderedJson();
  out["bucket"] = explanation.bucket ? OrderedJson(*explanation.bucket) : OrderedJson();
  out["seed"] = optional_text(explanation.seed);
  out["events"] = OrderedJson::array();
  for (const ExplainedEvent& event : explanation.events) {
    out["events"].push_back({{"kind", std::string(event_kind_name(event.kind))},
                             {"feature", event.feature},
                             {"variant", event.variant}});
  }
  out["steps"] = OrderedJson::array();
  for (const ExplainedStep& step : explanation.steps) {
    out["steps"].push_back({{"stage", std::string(stage_name(step.stage))},
                            {"outcome", std::string(step_outcome_name(step.outcome))},
                            {"reason", step.reason},
                            {"details", step.details}});
  }
  if (explanation.note) out["note"] = *explanation.note;
  return out;
}

Result<uint16_t, std::string> feature_bucket(const Orvane& engine, std::string_view name,
                                             std::string_view identifier) {
  Result<const Feature*, OrvaneError> found = feature_by_name(engine, name);
  if (!found) return Unexpected{found.error().display()};
  const Feature& feature = **found;
  // Worded like the engine's own "Feature "name" not found.".
  const std::string does_not = "Feature \"" + feature.name + "\" does not bucket: ";
  if (!feature.variant_set) return Unexpected{does_not + "it has no variant set."};
  if (!feature.variant_set->bucket_val) {
    return Unexpected{does_not + "its variant set has no bucket_val."};
  }
  const BucketSeed seed(feature, feature.variant_set->shuffle_version, identifier);
  return bucket_of(seed.text());
}

}  // namespace orvane
