#include "events/experiment_event.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace orvane {
namespace {

constexpr std::string_view kSeparator = "::::";

}  // namespace

std::string_view event_kind_name(EventKind kind) {
  switch (kind) {
    case EventKind::FracAvail: return "FracAvail";
    case EventKind::Override: return "Override";
    case EventKind::Holdout: return "Holdout";
    case EventKind::MutexGroup: return "MutexGroup";
  }
  return "FracAvail";  // unreachable for a valid enumerator; keeps -Wreturn-type quiet
}

std::string compact_text(const ExperimentEvent& event) {
  std::string_view field = event.bucket_field.name();
  // Ten values, nine separators, and at most 20 digits for each of the five numbers: the
  // text is written into room sized for that, then cut to its length.
  std::string out(event.feature_name.size() + event.variant_name.size() +
                      event.identifier.size() + field.size() + event.owner.size() +
                      9 * kSeparator.size() + 5 * 20,
                  '\0');
  char* at = out.data();
  auto text = [&](std::string_view value) { at = std::copy(value.begin(), value.end(), at); };
  auto number = [&](uint64_t value) { at = std::to_chars(at, at + 20, value).ptr; };
  number(static_cast<uint8_t>(event.kind));
  text(kSeparator);
  number(event.feature_id);
  text(kSeparator);
  text(event.feature_name);
  text(kSeparator);
  number(event.feature_version);
  text(kSeparator);
  text(event.variant_name);
  text(kSeparator);
  text(event.identifier);
  text(kSeparator);
  text(field);
  text(kSeparator);
  number(event.start_ts);
  text(kSeparator);
  number(event.stop_ts);
  text(kSeparator);
  text(event.owner);
  out.resize(static_cast<size_t>(at - out.data()));
  return out;
}

}  // namespace orvane
