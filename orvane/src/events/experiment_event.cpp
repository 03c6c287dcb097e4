#include "events/experiment_event.h"

#include <charconv>
#include <string>

namespace orvane {
namespace {

constexpr std::string_view kSeparator = "::::";

void append_number(std::string& out, uint64_t value) {
  char digits[20];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;  // 20 digits hold every uint64_t
  out.append(digits, end);
}

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
  std::string out;
  // Ten values, nine separators, and at most 20 digits for each of the five numbers.
  out.reserve(event.feature_name.size() + event.variant_name.size() +
              event.identifier.size() + field.size() + event.owner.size() +
              9 * kSeparator.size() + 5 * 20);
  append_number(out, static_cast<uint8_t>(event.kind));
  out += kSeparator;
  append_number(out, event.feature_id);
  out += kSeparator;
  out += event.feature_name;
  out += kSeparator;
  append_number(out, event.feature_version);
  out += kSeparator;
  out += event.variant_name;
  out += kSeparator;
  out += event.identifier;
  out += kSeparator;
  out += field;
  out += kSeparator;
  append_number(out, event.start_ts);
  out += kSeparator;
  append_number(out, event.stop_ts);
  out += kSeparator;
  out += event.owner;
  return out;
}

}  // namespace orvane
