#include "events/experiment_event.h"

#include <cstring>
#include <string>
#include <string_view>

#include "base/raw_text.h"

namespace orvane {
namespace {

constexpr std::string_view kSeparator = "::::";
// The kind's number is written as its one digit.
static_assert(static_cast<unsigned>(EventKind::MutexGroup) < 10);

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

size_t compact_text_size(const ExperimentEvent& event) {
  // Ten values and nine separators.
  return event.feature_name.size() + event.variant_name.size() + event.identifier.size() +
         event.bucket_field.size() + event.owner.size() + 9 * kSeparator.size() +
         1 + decimal_digits(event.feature_id) +
         decimal_digits(event.feature_version) + decimal_digits(event.start_ts) +
         decimal_digits(event.stop_ts);
}

char* write_compact_text(char* out, const ExperimentEvent& event) {
  auto separator = [&out] {
    std::memcpy(out, kSeparator.data(), kSeparator.size());
    out += kSeparator.size();
  };
  *out++ = static_cast<char>('0' + static_cast<unsigned>(event.kind));
  separator();
  out = put_decimal(out, event.feature_id);
  separator();
  out = put_text(out, event.feature_name);
  separator();
  out = put_decimal(out, event.feature_version);
  separator();
  out = put_text(out, event.variant_name);
  separator();
  out = put_text(out, event.identifier);
  separator();
  out = put_text(out, event.bucket_field);
  separator();
  out = put_decimal(out, event.start_ts);
  separator();
  out = put_decimal(out, event.stop_ts);
  separator();
  return put_text(out, event.owner);
}

std::string compact_text(const ExperimentEvent& event) {
  std::string out(compact_text_size(event), '\0');
  write_compact_text(out.data(), event);
  return out;
}

}  // namespace orvane
