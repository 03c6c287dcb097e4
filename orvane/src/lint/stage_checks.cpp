// The chain of stages: names the loader would refuse, and orders that let an early stage
// decide before a later one gets to stop or redirect the feature, which is rarely meant.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/quote.h"
#include "engine/stage.h"
#include "lint/checks.h"
#include "lint/names.h"

namespace orvane::lint {
namespace {

constexpr std::string_view kStageNames[] = {"darkmode",   "locale",      "targeting",
                                            "overrides",  "holdout",     "mutex_group",
                                            "fractional_availability", "value"};

std::string all_stage_names() {
  std::string out;
  for (std::string_view name : kStageNames) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

// Splits at white space as the loader does.
std::vector<std::string_view> split_names(std::string_view text) {
  std::vector<std::string_view> names;
  size_t pos = 0;
  size_t start = std::string_view::npos;
  while (pos < text.size()) {
    const size_t at = pos;
    const bool blank = is_unicode_whitespace(decode_utf8(text, pos));
    if (blank && start != std::string_view::npos) {
      names.push_back(text.substr(start, at - start));
      start = std::string_view::npos;
    } else if (!blank && start == std::string_view::npos) {
      start = at;
    }
  }
  if (start != std::string_view::npos) names.push_back(text.substr(start));
  return names;
}

// An early stage that decides, and a later one that would have stopped or redirected the
// feature first: why the order matters.
struct OrderRule {
  Stage early;
  Stage late;
  const char* effect;
};

constexpr OrderRule kOrderRules[] = {
    {Stage::FractionalAvailability, Stage::Darkmode,
     "disabled features are still handed out to the users it assigns"},
    {Stage::FractionalAvailability, Stage::Targeting,
     "targeting never applies to the users it assigns"},
    {Stage::FractionalAvailability, Stage::Overrides,
     "overrides never apply to users inside a variant's range"},
    {Stage::FractionalAvailability, Stage::Holdout, "the holdout group never holds anyone out"},
    {Stage::FractionalAvailability, Stage::MutexGroup,
     "mutually exclusive experiments are no longer exclusive"},
    {Stage::Value, Stage::Darkmode, "disabled dynamic configurations still hand out values"},
    {Stage::Value, Stage::Targeting, "targeting of dynamic configurations never applies"},
    // `value` stops every record without a value, so whatever runs after it never sees an
    // experiment or a rollout.
    {Stage::Value, Stage::Overrides,
     "experiments and rollouts, which have no value, are stopped before their overrides"},
    {Stage::Value, Stage::FractionalAvailability,
     "experiments and rollouts, which have no value, are stopped before they are bucketed"},
};

Finding stage_finding(Code code, Severity severity, std::string message, std::string hint) {
  return Finding{code, severity, std::nullopt, std::nullopt, {}, std::nullopt, std::nullopt,
                 std::move(message), std::move(hint)};
}

}  // namespace

void check_stages(std::string_view stages, std::vector<Finding>& out) {
  std::vector<std::optional<Stage>> chain;
  for (std::string_view name : split_names(stages)) {
    Result<Stage, InvalidDecisionMaker> stage = name_to_decisionmaker(name);
    if (stage) {
      chain.push_back(*stage);
      continue;
    }
    chain.push_back(std::nullopt);
    std::string hint;
    if (std::optional<std::string_view> guess = closest_name(name, kStageNames)) {
      hint = "did you mean " + ticked(*guess) + "? ";
    }
    hint += hint.empty() ? "the stages are " : "The stages are ";
    hint += all_stage_names();
    out.push_back(stage_finding(Code::UnknownStage, Severity::Error,
                                quoted_text(name) + " is not a stage, so the engine does not load",
                                std::move(hint)));
  }
  if (chain.empty()) {
    out.push_back(stage_finding(Code::StageOrder, Severity::Warning,
                                "the chain of stages is empty, so nothing is ever decided",
                                "the usual chain is darkmode targeting overrides holdout "
                                "mutex_group fractional_availability value"));
    return;
  }

  auto first_at = [&](Stage stage) -> std::optional<size_t> {
    for (size_t i = 0; i < chain.size(); ++i) {
      if (chain[i] == stage) return i;
    }
    return std::nullopt;
  };
  for (const OrderRule& rule : kOrderRules) {
    std::optional<size_t> early = first_at(rule.early);
    std::optional<size_t> late = first_at(rule.late);
    if (!early || !late || *early > *late) continue;
    out.push_back(stage_finding(
        Code::StageOrder, Severity::Warning,
        std::string(stage_name(rule.early)) + " comes before " + std::string(stage_name(rule.late)) +
            ": " + rule.effect,
        "put " + std::string(stage_name(rule.late)) + " before " +
            std::string(stage_name(rule.early))));
  }
  std::vector<Stage> told;
  for (size_t i = 0; i < chain.size(); ++i) {
    if (!chain[i] || first_at(*chain[i]) == i) continue;
    if (std::find(told.begin(), told.end(), *chain[i]) != told.end()) continue;
    told.push_back(*chain[i]);
    out.push_back(stage_finding(Code::StageOrder, Severity::Warning,
                                std::string(stage_name(*chain[i])) + " is listed more than once",
                                "a stage listed twice runs twice, and its events are logged twice"));
  }
}

}  // namespace orvane::lint
