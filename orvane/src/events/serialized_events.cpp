#include "events/serialized_events.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "base/json.h"
#include "base/text_writer.h"
#include "events/clock.h"
#include "events/uuid.h"

namespace orvane {

bool timestamp_fits(uint64_t timestamp) {
  return timestamp <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
}

bool timestamps_fit(const std::vector<ExperimentEvent>& events) {
  for (const ExperimentEvent& event : events) {
    if (!timestamp_fits(event.start_ts) || !timestamp_fits(event.stop_ts)) return false;
  }
  return true;
}

namespace {

// Every encoded event starts with the two constants and the key of the bucketing field's
// name; the rest of the record is assembled around it.
constexpr std::string_view kEventHead =
    R"({"1":{"str":"experiment"},"2":{"str":"expose"},"3":{"str":)";
// Room for the fixed keys and tags of one event and of its experiment record, and for the
// numbers they hold.
constexpr size_t kEventFrame = 400;

// Each writer takes the field's opening text up to its value, e.g. ,"2":{"str": with the
// separating comma when one is due, and asks for the whole field's room once.
void str_field(TextWriter& out, std::string_view open, std::string_view text) {
  out.room(open.size() + json_string_room(text) + 1);
  out.raw(open);
  out.json_string(text);
  out.put('}');
}

void int_field(TextWriter& out, std::string_view open, int64_t value) {
  out.room(open.size() + TextWriter::kNumberRoom + 1);
  out.raw(open);
  out.number(value);
  out.put('}');
}

void tf_field(TextWriter& out, std::string_view open, bool value) {
  out.room(open.size() + 2);
  out.raw(open);
  out.raw(value ? "1}" : "0}");
}

// The records between key "8" and key "129" that come from the context: App, Platform,
// request and User, each with its leading comma, or nothing for an absent one.
void append_context_records(TextWriter& out, const Context& ctx) {
  if (ctx.app_name) {
    out.text(R"(,"107":{"rec":{)");
    str_field(out, R"("2":{"str":)", *ctx.app_name);
    if (ctx.build_number) {
      int_field(out, R"(,"4":{"i32":)", *ctx.build_number);
    }
    if (ctx.locale) {
      str_field(out, R"(,"6":{"str":)", *ctx.locale);
    }
    out.text("}}");
  }
  // A device identifier that is not a UUID is ordinary client data, not an error: the
  // platform record is simply left out.
  if (ctx.device_id) {
    if (std::optional<Uuid> device = parse_uuid(*ctx.device_id)) {
      out.text(R"(,"108":{"rec":{"2":{"str":")");
      std::array<char, 36> text = uuid_chars(*device);
      out.text(std::string_view(text.data(), text.size()));
      out.text(R"("}}})");
    }
  }
  if (ctx.canonical_url) {
    out.text(R"(,"109":{"rec":{)");
    str_field(out, R"("17":{"str":)", *ctx.canonical_url);
    out.text("}}");
  }
  if (ctx.user_id) {
    out.text(R"(,"112":{"rec":{)");
    str_field(out, R"("1":{"str":)", *ctx.user_id);
    if (ctx.logged_in) {
      tf_field(out, R"(,"3":{"tf":)", *ctx.logged_in);
    }
    if (ctx.cookie_created_timestamp) {
      int_field(out, R"(,"4":{"i64":)", *ctx.cookie_created_timestamp);
    }
    if (ctx.user_is_employee) {
      tf_field(out, R"(,"16":{"tf":)", *ctx.user_is_employee);
    }
    out.text("}}");
  }
}

// The parts every event of a decision shares: the stamp, the context records and the tail.
// An event is kEventHead, its field name, stamp, its own UUID, context, its experiment
// record and tail; the first event's document is written whole, and later events copy the
// shared parts from it. Each part is [begin, end) in the first document.
struct SharedParts {
  size_t stamp_begin = 0;
  size_t stamp_end = 0;
  size_t context_begin = 0;
  size_t context_end = 0;
  size_t tail_begin = 0;
};

// },"5":{"i64":ts},"6":{"str":
void append_stamp(TextWriter& out, int64_t timestamp_ms) {
  out.text("},");
  int_field(out, R"("5":{"i64":)", timestamp_ms);
  out.text(R"(,"6":{"str":)");
}

// },"8":{"str":"batch"}<107..112>,"129":{"rec":
void append_context(TextWriter& out, const Context& ctx, std::string_view batch_uuid) {
  out.text("},");
  str_field(out, R"("8":{"str":)", batch_uuid);
  append_context_records(out, ctx);
  out.text(R"(,"129":{"rec":)");
}

// }<500>}
void append_tail(TextWriter& out, const Context& ctx) {
  out.text("}");
  if (ctx.country_code) {
    out.text(R"(,"500":{"rec":{)");
    str_field(out, R"("1":{"str":)", *ctx.country_code);
    out.text("}}");
  }
  out.text("}");
}

// Room for the context's texts in the first document; the rest of it is in kEventFrame.
size_t context_text_size(const Context& ctx) {
  size_t size = 0;
  for (const std::optional<std::string>* text :
       {&ctx.app_name, &ctx.locale, &ctx.canonical_url, &ctx.user_id, &ctx.country_code}) {
    if (*text) size += (*text)->size();
  }
  return size;
}

void append_experiment(TextWriter& out, const ExperimentEvent& event) {
  std::string_view field = event.bucket_field.name();
  out.text("{");
  int_field(out, R"("1":{"i64":)", event.feature_id);
  str_field(out, R"(,"2":{"str":)", event.feature_name);
  str_field(out, R"(,"3":{"str":)", event.owner);
  str_field(out, R"(,"4":{"str":)", event.variant_name);
  int_field(out, R"(,"5":{"i64":)", static_cast<int64_t>(event.start_ts));
  int_field(out, R"(,"6":{"i64":)", static_cast<int64_t>(event.stop_ts));
  str_field(out, R"(,"7":{"str":)", field);
  // The version goes out as text: readers of this record expect a string under key 8.
  out.text(R"(,"8":{"str":")");
  out.room(TextWriter::kNumberRoom + 3);
  out.number(event.feature_version);
  out.raw(R"("},)");
  str_field(out, R"("9":{"str":)", event.identifier);
  tf_field(out, R"(,"10":{"tf":)", event.kind == EventKind::Override);
  out.text("}");
}

// `next_uuid(i)` gives the UUID text of event i, or nothing when none can be had.
template <class NextUuid>
Result<SerializedEvents, EventError> encode(const Context& ctx,
                                            const std::vector<ExperimentEvent>& events,
                                            int64_t timestamp_ms, std::string_view batch_uuid,
                                            NextUuid next_uuid) {
  // Checked before any event is encoded: a failing batch yields nothing but the error.
  if (!timestamps_fit(events)) return EventError{kTimestampOutOfRange};

  SerializedEvents result;
  result.event_data.reserve(events.size());
  result.events.reserve(events.size());
  SharedParts parts;
  const size_t shared_room = 256 + batch_uuid.size() + context_text_size(ctx);
  for (size_t i = 0; i < events.size(); ++i) {
    const ExperimentEvent& event = events[i];
    std::optional<std::string_view> uuid = next_uuid(i);
    if (!uuid) return EventError{kRandomSourceUnavailable};

    std::string_view field = event.bucket_field.name();
    std::string json;
    {  // the writer leaves the document at its final length when it goes
      TextWriter out(json, kEventFrame + kEventHead.size() + shared_room + 2 * field.size() +
                               uuid->size() + event.feature_name.size() + event.owner.size() +
                               event.variant_name.size() + event.identifier.size());
      out.text(kEventHead);
      out.room(json_string_room(field));
      out.json_string(field);
      if (i == 0) {
        parts.stamp_begin = out.size();
        append_stamp(out, timestamp_ms);
        parts.stamp_end = out.size();
        out.room(json_string_room(*uuid));
        out.json_string(*uuid);
        parts.context_begin = out.size();
        append_context(out, ctx, batch_uuid);
        parts.context_end = out.size();
        append_experiment(out, event);
        parts.tail_begin = out.size();
        append_tail(out, ctx);
      } else {
        const std::string_view first = result.events.front().json;
        out.text(first.substr(parts.stamp_begin, parts.stamp_end - parts.stamp_begin));
        out.room(json_string_room(*uuid));
        out.json_string(*uuid);
        out.text(first.substr(parts.context_begin, parts.context_end - parts.context_begin));
        append_experiment(out, event);
        out.text(first.substr(parts.tail_begin));
      }
    }

    result.event_data.push_back(compact_text(event));
    result.events.push_back(Event{event.kind, std::move(json)});
  }
  return result;
}

}  // namespace

DebugNode event_debug_node(const Event& event) {
  return DebugNode::record(
      "Event", {{"kind", DebugNode::leaf(std::string(event_kind_name(event.kind)))},
                {"json", DebugNode::string(event.json)}});
}

Result<SerializedEvents, EventError> serialize_events(const Context& ctx,
                                                      std::vector<ExperimentEvent>&& events) {
  // Most decisions expose nothing; they need neither the clock, a batch UUID nor the
  // context records, and the result is the same two empty lists.
  if (events.empty()) return SerializedEvents{};
  int64_t timestamp_ms = now_millis();
  std::optional<Uuid> batch = try_random_uuid_v4();
  if (!batch) return EventError{kRandomSourceUnavailable};
  std::array<char, 36> batch_text = uuid_chars(*batch);
  std::array<char, 36> event_text;  // rewritten per event; encode() copies it before the next
  return encode(ctx, events, timestamp_ms, std::string_view(batch_text.data(), batch_text.size()),
                [&](size_t) -> std::optional<std::string_view> {
                  std::optional<Uuid> uuid = try_random_uuid_v4();
                  if (!uuid) return std::nullopt;
                  event_text = uuid_chars(*uuid);
                  return std::string_view(event_text.data(), event_text.size());
                });
}

Result<SerializedEvents, EventError> serialize_events_with(const Context& ctx,
                                                           std::vector<ExperimentEvent>&& events,
                                                           const EventStamp& stamp) {
  if (stamp.event_uuids.size() != events.size()) {
    return EventError{std::to_string(stamp.event_uuids.size()) + " event UUIDs given for " +
                      std::to_string(events.size()) + " events"};
  }
  return encode(ctx, events, stamp.timestamp_ms, stamp.batch_uuid,
                [&](size_t i) -> std::optional<std::string_view> { return stamp.event_uuids[i]; });
}

}  // namespace orvane
