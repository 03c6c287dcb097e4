#pragma once
// Builders and one-line texts shared by the engine tests: features built directly as
// structs, and outcomes and decisions written out whole so a table row states the complete
// expected result.

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/internal.h"
#include "engine/orvane.h"

namespace orvane::testing {

inline TargetingTree eq(const char* field, Json value) {
  return TargetingTree{EqNode{EqOne{ContextField::from_name(field), std::move(value)}}};
}

inline Context user(const char* id) {
  Context ctx;
  ctx.user_id = id;
  return ctx;
}

// Version 2, owner o, timestamps 0 and 100, bucketed by user_id into one variant `all`
// that covers every bucket.
inline Feature experiment(uint32_t id, std::string name, std::string variant = "all") {
  Feature f;
  f.id = id;
  f.name = std::move(name);
  f.enabled = true;
  f.version = 2;
  f.owner = "o";
  f.emit_event = true;
  f.variant_set = VariantSet{0, 100, 1, ContextField::from_name("user_id"),
                             {Variant{std::move(variant), 0.0f, 1.0f}}, nullptr, nullptr};
  return f;
}

inline Feature dynamic_config(uint32_t id, std::string name, std::optional<Json> value,
                              std::optional<ValueType> type) {
  Feature f;
  f.id = id;
  f.name = std::move(name);
  f.enabled = true;
  f.type = ExperimentType::DynamicConfig;
  f.version = 1;
  f.value = std::move(value);
  f.value_type = type;
  return f;
}

inline std::shared_ptr<const Feature> share(Feature f) {
  return std::make_shared<const Feature>(std::move(f));
}

// Stage names separated by single blanks.
inline std::vector<Stage> chain(std::string_view names) {
  std::vector<Stage> stages;
  while (!names.empty()) {
    size_t end = std::min(names.find(' '), names.size());
    stages.push_back(*name_to_decisionmaker(names.substr(0, end)));
    names.remove_prefix(std::min(end + 1, names.size()));
  }
  return stages;
}

// kind/feature/variant/identifier per event; the full compact text is the events' own test.
inline std::string events_text(const std::vector<ExperimentEvent>& events) {
  std::string out;
  for (const ExperimentEvent& e : events) {
    out += (out.empty() ? "" : " ") + std::to_string(static_cast<int>(e.kind)) + "/" +
           std::string(e.feature_name) + "/" + std::string(e.variant_name) + "/" +
           std::string(e.identifier);
  }
  return "[" + out + "]";
}

// name#id.version variant value value_type [events]; "-" marks an absent part.
inline std::string decision_text(const InternalDecision& d) {
  return std::string(d.feature_name) + "#" + std::to_string(d.feature_id) + "." +
         std::to_string(d.feature_version) + " " + std::string(d.variant_name.value_or("-")) +
         " " +
         json_debug(d.value) + " " +
         (d.value_type ? std::string(value_type_text(*d.value_type)) : "-") + " " +
         events_text(d.events);
}

inline std::string outcome_text(const StageResult& result) {
  if (!result) return "error: " + result.error().display();
  struct Text {
    std::string operator()(const outcome::Pass& p) const { return std::string("Pass ") + p.reason; }
    std::string operator()(const outcome::NoDecision&) const { return "NoDecision"; }
    std::string operator()(const outcome::Continue& c) const {
      return "Continue " + events_text(c.events);
    }
    std::string operator()(const outcome::Decided& d) const { return decision_text(d.decision); }
  };
  return std::visit(Text{}, *result);
}

inline std::string internal_text(const InternalResult& result) {
  if (!result) return "error: " + result.error().display();
  return *result ? decision_text(**result) : "no decision";
}

}  // namespace orvane::testing
