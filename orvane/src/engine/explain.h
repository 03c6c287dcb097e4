#pragma once
// Explaining one decision: choose's own stage code, run with a tracer that records what
// each stage looked at and why it ended as it did, next to the decision (or the error) it
// led to. Nothing else in the engine includes this file; deciding never pays for it.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.h"
#include "base/result.h"
#include "config/experiment.h"
#include "context/context.h"
#include "engine/orvane.h"
#include "engine/stage.h"
#include "events/experiment_event.h"

namespace orvane {

// Keeps keys in the order they are written, so a reader meets the stage, its outcome and
// its reason before the details.
using OrderedJson = nlohmann::ordered_json;

enum class StepOutcome { Pass, Continue, Stop, Decided, Error };
// "pass", "continue" (passed on with events), "stop" (no decision), "decided", "error".
std::string_view step_outcome_name(StepOutcome outcome);

struct ExplainedStep {
  Stage stage;
  StepOutcome outcome;
  std::string reason;   // one line for people; an error's own display text
  OrderedJson details;  // what the stage looked at: an object whose keys depend on the stage
};

struct ExplainedEvent {
  EventKind kind;
  std::string feature;
  std::string variant;
};

// One run of the chain: for the feature asked about, or for a holdout or mutex group met
// on the way (those sit inside the details of the step that ran them).
struct Explanation {
  std::string feature;
  std::optional<std::string> variant;
  Json value;  // null without a decision, or when the decision has no value
  std::optional<ValueType> value_type;
  std::optional<std::string> error;  // the display text choose gives
  std::optional<Stage> decided_by;
  std::optional<uint16_t> bucket;  // of the run's bucketing stage, when it got that far
  std::optional<std::string> seed;
  std::vector<ExplainedEvent> events;
  std::vector<ExplainedStep> steps;
  std::optional<std::string> note;  // why a group's steps are not shown
};

// What choose(engine, name, ctx, identifier_type) decides and why. The decision and the
// error text are the ones choose gives; the steps stop at the stage that ended the run.
Explanation explain(const Orvane& engine, std::string_view name, const Context& ctx,
                    const std::optional<ContextField>& identifier_type);

// {"feature", "variant", "value", "value_type", "error", "decided_by", "bucket", "seed",
// "events": [{"kind", "feature", "variant"}], "steps": [{"stage", "outcome", "reason",
// "details"}]}, and "note" when there is one.
OrderedJson explanation_json(const Explanation& explanation);

// The bucket (0-999) the feature named `name` draws for `identifier`, the identifier's
// text as the bucketing stage reads it; a message when there is no such feature or it
// does not bucket.
Result<uint16_t, std::string> feature_bucket(const Orvane& engine, std::string_view name,
                                             std::string_view identifier);

}  // namespace orvane
