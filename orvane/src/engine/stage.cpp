#include "engine/stage.h"

namespace orvane {

Result<Stage, InvalidDecisionMaker> name_to_decisionmaker(std::string_view name) {
  struct Entry {
    std::string_view name;
    Stage stage;
  };
  static constexpr Entry kStages[] = {
      {"value", Stage::Value},
      {"locale", Stage::Locale},
      {"holdout", Stage::Holdout},
      {"darkmode", Stage::Darkmode},
      {"targeting", Stage::Targeting},
      {"overrides", Stage::Overrides},
      {"mutex_group", Stage::MutexGroup},
      {"fractional_availability", Stage::FractionalAvailability},
  };
  for (const Entry& entry : kStages) {
    if (entry.name == name) return entry.stage;
  }
  return Unexpected{InvalidDecisionMaker{std::string(name)}};
}

std::string_view stage_name(Stage stage) {
  switch (stage) {
    case Stage::Darkmode: return "darkmode";
    case Stage::Locale: return "locale";
    case Stage::Targeting: return "targeting";
    case Stage::Overrides: return "overrides";
    case Stage::Holdout: return "holdout";
    case Stage::MutexGroup: return "mutex_group";
    case Stage::FractionalAvailability: return "fractional_availability";
    case Stage::Value: return "value";
  }
  return "";  // unreachable: the switch covers every Stage
}

}  // namespace orvane
