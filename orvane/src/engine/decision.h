#pragma once
// What a run of the chain decides for one feature: the internal form, whose exposure
// events are still records, and the public Decision, whose events are stamped and give
// their texts when read.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/debug_text.h"
#include "base/json.h"
#include "config/experiment.h"
#include "events/experiment_event.h"
#include "events/serialized_events.h"

namespace orvane {

// Its texts are borrowed from the engine's features, which outlive every run of the chain;
// they are copied once, into the Decision that leaves the engine.
struct InternalDecision {
  std::string_view feature_name;
  std::optional<std::string_view> variant_name;
  Json value;  // null when the deciding stage has none
  std::vector<ExperimentEvent> events;
  uint32_t feature_id = 0;
  uint32_t feature_version = 0;
  std::optional<ValueType> value_type;
};

struct Decision {
  uint32_t feature_id = 0;
  std::string feature_name;
  uint32_t feature_version = 0;
  std::optional<std::string> variant_name;
  Json value;
  std::optional<ValueType> value_type;
  SerializedEvents events;  // compact texts and encoded documents, written when read
};

// Decision { feature_id: 1, feature_name: "f", ..., events: [Event { kind: FracAvail,
// json: "..." }] } on one line.
std::string decision_debug(const Decision& decision);
DebugNode decision_debug_node(const Decision& decision);

}  // namespace orvane
