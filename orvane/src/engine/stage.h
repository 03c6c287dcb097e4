#pragma once
// The decision stages and the outcome each returns for one feature and one context.

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "engine/decision.h"
#include "engine/orvane_error.h"
#include "events/experiment_event.h"
#include "model/init_error.h"

namespace orvane {

enum class Stage {
  Darkmode,
  Locale,
  Targeting,
  Overrides,
  Holdout,
  MutexGroup,
  FractionalAvailability,
  Value,
};

// Resolves one stage name ("darkmode", "locale", "targeting", "overrides", "holdout",
// "mutex_group", "fractional_availability", "value"), byte for byte; any other text is
// an InvalidDecisionMaker carrying it.
Result<Stage, InvalidDecisionMaker> name_to_decisionmaker(std::string_view name);

// The stage's name as the chain is written: "darkmode", ..., "fractional_availability".
std::string_view stage_name(Stage stage);

namespace outcome {
struct Pass {
  const char* reason;  // a constant text; documents why, never shown
};
struct NoDecision {};
struct Continue {
  std::vector<ExperimentEvent> events;
};
struct Decided {
  InternalDecision decision;
};
}  // namespace outcome

using StageOutcome =
    std::variant<outcome::Pass, outcome::NoDecision, outcome::Continue, outcome::Decided>;

}  // namespace orvane
