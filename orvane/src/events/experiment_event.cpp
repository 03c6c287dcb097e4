#include "events/experiment_event.h"

#include <string>
#include <string_view>

#include "base/text_writer.h"

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
  std::string out;
  {  // the writer leaves the text at its final length when it goes
    TextWriter w(out, 0);
    // Ten values, nine separators and five numbers: room for all of it at once.
    w.room(event.feature_name.size() + event.variant_name.size() + event.identifier.size() +
           field.size() + event.owner.size() + 9 * kSeparator.size() +
           5 * TextWriter::kNumberRoom);
    w.number(static_cast<unsigned>(event.kind));
    w.raw(kSeparator);
    w.number(event.feature_id);
    w.raw(kSeparator);
    w.raw(event.feature_name);
    w.raw(kSeparator);
    w.number(event.feature_version);
    w.raw(kSeparator);
    w.raw(event.variant_name);
    w.raw(kSeparator);
    w.raw(event.identifier);
    w.raw(kSeparator);
    w.raw(field);
    w.raw(kSeparator);
    w.number(event.start_ts);
    w.raw(kSeparator);
    w.number(event.stop_ts);
    w.raw(kSeparator);
    w.raw(event.owner);
  }
  return out;
}

}  // namespace orvane
