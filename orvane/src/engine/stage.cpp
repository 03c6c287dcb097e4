#include "engine/stage.h"

#include "base/quote.h"

namespace orvane {

Result<Stage, std::string> name_to_decisionmaker(std::string_view name) {
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
  // The name is quoted so that blanks, controls and an empty name stay visible in the
  // loader's message.
  std::string text = "Invalid decisionmaker name: ";
  append_quoted(text, name);
  return Unexpected{std::move(text)};
}

}  // namespace orvane
