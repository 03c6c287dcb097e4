#pragma once
// The exposure events of one decision: for each event a compact text and a JSON document
// in the Thrift JSON field-number encoding, stamped with one timestamp and one batch UUID
// per decision and a fresh UUID per event.
//
// Everything that varies from one request to the next (the time, the random bits of the
// UUIDs, the event records and the request's facts) is fixed when the decision is made;
// the texts are written from those values only when something reads them. Most decisions
// are read for their variant and their compact texts, and never for their documents, so
// a request pays for the clock and 32 random bytes, not for the encoding. Every read of
// the same value gives the same bytes.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/debug_text.h"
#include "base/result.h"
#include "context/context.h"
#include "events/experiment_event.h"
#include "events/uuid.h"

namespace orvane {

struct Event {
  EventKind kind = EventKind::FracAvail;
  std::string json;
};

// Event { kind: FracAvail, json: "{\"1\":...}" }
DebugNode event_debug_node(const Event& event);

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

// The time and the UUIDs of one decision's events.
struct EventStamp {
  int64_t timestamp_ms = 0;
  Uuid batch_uuid{};
  std::vector<Uuid> event_uuids;  // one per event
};

// Immutable once made; copies share the fixed values. Any number of threads may read one
// value (or copies of it) at once: a read computes its texts from constant data and keeps
// nothing.
class SerializedEvents {
 public:
  SerializedEvents() = default;  // no events

  size_t size() const;
  bool empty() const { return size() == 0; }
  // Event i's record, from which its compact text is written; i below size().
  const ExperimentEvent& record(size_t i) const;
  // The compact texts and the encoded documents, in event order, written anew on each call.
  std::vector<std::string> texts() const;
  std::vector<Event> documents() const;

 private:
  struct Batch;
  explicit SerializedEvents(std::shared_ptr<const Batch> batch) : batch_(std::move(batch)) {}

  // `uuids` holds the batch's UUID and then one per event, or is empty to draw them all.
  static Result<SerializedEvents, EventError> stamp(const Context& ctx,
                                                    std::vector<ExperimentEvent>&& events,
                                                    int64_t timestamp_ms,
                                                    std::span<const Uuid> uuids);
  friend Result<SerializedEvents, EventError> serialize_events(const Context&,
                                                               std::vector<ExperimentEvent>&&);
  friend Result<SerializedEvents, EventError> serialize_events_with(
      const Context&, std::vector<ExperimentEvent>&&, const EventStamp&);

  std::shared_ptr<const Batch> batch_;  // null without events
};

// Consumes `events`. Fails as a whole (no partial result) when a timestamp does not fit a
// signed 64-bit integer, or when the OS random source cannot deliver. Reads `ctx` only and
// keeps a copy of the facts the documents need and of the texts the events borrow, so `ctx`
// and whatever the events borrowed from may go before the result does.
Result<SerializedEvents, EventError> serialize_events(const Context& ctx,
                                                      std::vector<ExperimentEvent>&& events);

// The same with a fixed time and fixed UUIDs, so the encoding can be checked byte for
// byte; fails when the number of UUIDs differs from the events'.
Result<SerializedEvents, EventError> serialize_events_with(const Context& ctx,
                                                           std::vector<ExperimentEvent>&& events,
                                                           const EventStamp& stamp);

}  // namespace orvane
