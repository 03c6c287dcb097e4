#pragma once
// Serialises the exposure events of one decision: for each event its compact text and a
// JSON document in the Thrift JSON field-number encoding, stamped with one timestamp and
// one batch UUID per decision and a fresh UUID per event.

#include <string>
#include <vector>

#include "base/debug_text.h"
#include "base/result.h"
#include "context/context.h"
#include "events/experiment_event.h"

namespace orvane {

struct Event {
  EventKind kind = EventKind::FracAvail;
  std::string json;
};

// Event { kind: FracAvail, json: "{\"1\":...}" }
DebugNode event_debug_node(const Event& event);

struct SerializedEvents {
  std::vector<std::string> event_data;  // compact texts, in event order
  std::vector<Event> events;            // encoded documents, in event order
};

struct EventError {
  std::string message;  // e.g. "out of range integral type conversion attempted"
};

// The causes serialize_events reports, as their texts.
inline constexpr const char* kTimestampOutOfRange =
    "out of range integral type conversion attempted";
inline constexpr const char* kRandomSourceUnavailable =
    "operating system random source unavailable";

// Whether a timestamp, and every event's timestamps, fit a signed 64-bit integer, as
// serialize_events needs.
bool timestamp_fits(uint64_t timestamp);
bool timestamps_fit(const std::vector<ExperimentEvent>& events);

// Consumes `events`. Fails as a whole (no partial result) when a timestamp does not fit a
// signed 64-bit integer, or when the OS random source cannot deliver. Reads `ctx` only.
Result<SerializedEvents, EventError> serialize_events(const Context& ctx,
                                                      std::vector<ExperimentEvent>&& events);

// The same with a fixed time and UUID source, so the encoding can be checked byte for byte.
// The UUID texts are written as given; fails when their number differs from the events'.
struct EventStamp {
  int64_t timestamp_ms;
  std::string batch_uuid;
  std::vector<std::string> event_uuids;  // one per event
};
Result<SerializedEvents, EventError> serialize_events_with(const Context& ctx,
                                                           std::vector<ExperimentEvent>&& events,
                                                           const EventStamp& stamp);

}  // namespace orvane
