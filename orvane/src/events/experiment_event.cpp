#include "events/experiment_event.h"

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>


namespace orvane {
namespace {

constexpr std::string_view kSeparator = "::::";
constexpr size_t kNumberRoom = 20;  // the longest decimal form of a 64-bit number

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

size_t compact_text_room(const ExperimentEvent& event) {
  // Ten values, nine separators and five numbers.
  return event.feature_name.size() + event.variant_name.size() + event.identifier.size() +
         event.bucket_field.size() + event.owner.size() + 9 * kSeparator.size() +
         5 * kNumberRoom;
}

char* write_compact_text(char* out, const ExperimentEvent& event) {
  auto text = [&out](std::string_view value) {
    std::memcpy(out, value.data(), value.size());
    out += value.size();
  };
  auto number = [&out](auto value) { out = std::to_chars(out, out + kNumberRoom, value).ptr; };
  number(static_cast<unsigned>(event.kind));
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
  text(event.bucket_field);
  text(kSeparator);
  number(event.start_ts);
  text(kSeparator);
  number(event.stop_ts);
  text(kSeparator);
  text(event.owner);
  return out;
}

std::string compact_text(const ExperimentEvent& event) {
  std::string out(compact_text_room(event), '\0');
  out.resize(static_cast<size_t>(write_compact_text(out.data(), event) - out.data()));
  return out;
}

}  // namespace orvane
