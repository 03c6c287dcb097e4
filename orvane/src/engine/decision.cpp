#include "engine/decision.h"

#include <utility>

namespace orvane {

DebugNode decision_debug_node(const Decision& decision) {
  std::optional<DebugNode> variant;
  if (decision.variant_name) variant = DebugNode::string(*decision.variant_name);
  std::optional<DebugNode> value_type;
  if (decision.value_type) {
    value_type = DebugNode::leaf(std::string(value_type_text(*decision.value_type)));
  }

  std::vector<DebugNode> event_data;
  event_data.reserve(decision.events.size());
  for (const std::string& text : decision.events.texts()) {
    event_data.push_back(DebugNode::string(text));
  }

  std::vector<DebugNode> events;
  events.reserve(decision.events.size());
  for (const Event& event : decision.events.documents()) events.push_back(event_debug_node(event));

  return DebugNode::record(
      "Decision", {
                      {"feature_id", DebugNode::leaf(std::to_string(decision.feature_id))},
                      {"feature_name", DebugNode::string(decision.feature_name)},
                      {"feature_version",
                       DebugNode::leaf(std::to_string(decision.feature_version))},
                      {"variant_name", DebugNode::optional(std::move(variant))},
                      {"value", json_debug_node(decision.value)},
                      {"value_type", DebugNode::optional(std::move(value_type))},
                      {"event_data", DebugNode::list(std::move(event_data))},
                      {"events", DebugNode::list(std::move(events))},
                  });
}

std::string decision_debug(const Decision& decision) {
  return decision_debug_node(decision).render(false);
}

}  // namespace orvane
