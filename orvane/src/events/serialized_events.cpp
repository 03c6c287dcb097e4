#include "events/serialized_events.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/json.h"
#include "base/raw_text.h"
#include "base/text_writer.h"
#include "context/fixed_fields.h"
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

// One of the request's fields that the documents carry, as it was when the decision was
// made; the field's kind says which member holds it.
struct Fact {
  bool flag;
  int64_t number;
  std::string_view text;  // in the batch's own storage
};

// The facts in the order of kEventOrder. Only the present ones are written: a request
// typically has a few of them.
struct Facts {
  uint32_t present = 0;  // bit i for the field at i
  size_t text_size = 0;  // of the texts together
  std::array<Fact, kEventOrder.size()> values;

  bool has(size_t at) const { return (present >> at & 1) != 0; }
};
static_assert(kEventOrder.size() <= 32, "one bit of Facts::present per sent field");

// The texts of a batch that fit here are kept inside it, so that stamping a decision
// allocates the batch alone: the record's five texts and the facts of a typical request
// come to well under this.
constexpr size_t kInlineText = 256;

}  // namespace

// What a decision's events were stamped with; written once, then only read.
struct SerializedEvents::Batch {
  // Leaves the text storage unwritten: make_shared would otherwise zero it first.
  Batch() {}
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  int64_t timestamp_ms = 0;
  std::vector<ExperimentEvent> records;  // their texts point into the storage below
  // The batch's UUID and the first event's, then the later events' own: most decisions
  // have one event, and its UUIDs need no allocation of their own.
  std::array<Uuid, 2> first_uuids;
  std::vector<Uuid> later_uuids;

  // 0: the batch's UUID, 1 + i: event i's.
  const Uuid& uuid(size_t i) const { return i < 2 ? first_uuids[i] : later_uuids[i - 2]; }
  Facts facts;  // only the request's fields that the documents carry

  // Every text of the records and the facts, back to back: here when they fit, else in
  // `heap_text`. The events and the request they came from may go before the batch does.
  std::unique_ptr<char[]> heap_text;
  char inline_text[kInlineText];
};

namespace {

// Every encoded event starts with the two constants and the key of the bucketing field's
// name; the rest of the record is assembled around it.
constexpr std::string_view kEventHead =
    R"({"1":{"str":"experiment"},"2":{"str":"expose"},"3":{"str":)";
// Room for the fixed keys and tags of one event and of its experiment record, and for the
// numbers they hold.
constexpr size_t kEventFrame = 400;

// A text this long is measured exactly before it is written: the worst case, six bytes for
// every byte, would have a request value of many megabytes reserve and touch several times
// its size while its document is written.
constexpr size_t kMeasuredText = 4096;

size_t json_string_size(std::string_view text) {
  size_t size = 2 + text.size();
  for (char c : text) {
    if (c == '"' || c == '\\') {
      size += 1;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      const bool named = c == '\b' || c == '\f' || c == '\n' || c == '\r' || c == '\t';
      size += named ? 1 : 5;  // \n, or \u00XX
    }
  }
  return size;
}

size_t string_room(std::string_view text) {
  return text.size() < kMeasuredText ? json_string_room(text) : json_string_size(text);
}

// Each writer takes the field's opening text up to its value, e.g. ,"2":{"str": with the
// separating comma when one is due, and asks for the whole field's room once.
void str_field(TextWriter& out, std::string_view open, std::string_view text) {
  out.room(open.size() + string_room(text) + 1);
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

// A UUID's canonical text needs no escaping, so it is copied as it is.
void uuid_field(TextWriter& out, std::string_view open, const Uuid& uuid) {
  const std::array<char, 36> text = uuid_chars(uuid);
  out.room(open.size() + text.size() + 3);
  out.raw(open);
  out.put('"');
  out.raw(std::string_view(text.data(), text.size()));
  out.raw("\"}");
}

void tf_field(TextWriter& out, std::string_view open, bool value) {
  out.room(open.size() + 2);
  out.raw(open);
  out.raw(value ? "1}" : "0}");
}

// The key of the experiment record. The context's records with lower numbers come before
// it in the document, the ones with higher numbers after it.
constexpr uint16_t kExperimentRecord = 129;

// The text that opens one field in the document, up to its value: ,"key":{"type": or, for
// the field that leads its record, ,"record":{"rec":{"key":{"type": with the record's own
// opening. Worked out at compile time, so writing a field is one copy as before.
struct OpenText {
  std::array<char, 32> chars{};
  size_t size = 0;

  constexpr void add(std::string_view text) {
    for (char c : text) chars[size++] = c;
  }
  constexpr void add(uint16_t number) {
    char digits[5] = {};
    size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + number % 10);
      number = static_cast<uint16_t>(number / 10);
    } while (number != 0);
    while (count > 0) chars[size++] = digits[--count];
  }
  std::string_view view() const { return {chars.data(), size}; }
};

constexpr std::string_view wire_type(FieldValue value) {
  switch (value) {
    case FieldValue::String: return "str";
    case FieldValue::Bool: return "tf";
    case FieldValue::Int32: return "i32";
    case FieldValue::Int64: return "i64";
  }
  return "";  // unreachable: the switch covers every FieldValue
}

constexpr OpenText field_open(const FixedFieldInfo& info, bool leads_record) {
  OpenText open;
  open.add(",\"");
  if (leads_record) {
    open.add(info.event.record);
    open.add("\":{\"rec\":{\"");
  }
  open.add(info.event.key);
  open.add("\":{\"");
  open.add(wire_type(info.value));
  open.add("\":");
  return open;
}

// Writes the field at `At` of kEventOrder; false, writing nothing, when the field is absent.
// A field sent as a UUID counts as absent when it does not read as one: a device identifier
// that is not a UUID is ordinary client data, not an error.
template <size_t At, bool LeadsRecord>
bool append_event_field(TextWriter& out, const Facts& facts) {
  constexpr const FixedFieldInfo& info = fixed_field_info(kEventOrder[At]);
  static constexpr OpenText kOpen = field_open(info, LeadsRecord);
  if (!facts.has(At)) return false;
  const Fact& fact = facts.values[At];
  if constexpr (info.event.as_uuid) {
    std::optional<Uuid> uuid = parse_uuid(fact.text);
    if (!uuid) return false;
    uuid_field(out, kOpen.view(), *uuid);
  } else if constexpr (info.value == FieldValue::String) {
    str_field(out, kOpen.view(), fact.text);
  } else if constexpr (info.value == FieldValue::Bool) {
    tf_field(out, kOpen.view(), fact.flag);
  } else {
    int_field(out, kOpen.view(), fact.number);
  }
  return true;
}

constexpr uint16_t record_at(size_t at) { return fixed_field_info(kEventOrder[at]).event.record; }

// The position in kEventOrder just past the record that starts at `at`.
constexpr size_t record_end(size_t at) {
  size_t end = at + 1;
  while (end < kEventOrder.size() && record_at(end) == record_at(at)) ++end;
  return end;
}

// The position of the first field whose record comes after `record`.
constexpr size_t first_after(uint16_t record) {
  size_t at = 0;
  while (at < kEventOrder.size() && record_at(at) <= record) ++at;
  return at;
}

// One record: nothing when its leading field is absent, else the fields that are present,
// in the order of their keys.
template <size_t Lead, size_t... Rest>
void append_record(TextWriter& out, const Facts& facts, std::index_sequence<Rest...>) {
  if (!append_event_field<Lead, true>(out, facts)) return;
  (append_event_field<Lead + 1 + Rest, false>(out, facts), ...);
  out.text("}}");
}

// The records of the fields at [Begin, End) of kEventOrder, each with its leading comma.
template <size_t Begin, size_t End>
void append_records(TextWriter& out, const Facts& facts) {
  if constexpr (Begin < End) {
    constexpr size_t kNext = record_end(Begin);
    append_record<Begin>(out, facts, std::make_index_sequence<kNext - Begin - 1>());
    append_records<kNext, End>(out, facts);
  }
}

constexpr size_t kRecordsBefore = first_after(kExperimentRecord);

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
void append_context(TextWriter& out, const Facts& facts, std::string_view batch_uuid) {
  out.text("},");
  str_field(out, R"("8":{"str":)", batch_uuid);
  append_records<0, kRecordsBefore>(out, facts);
  out.text(R"(,"129":{"rec":)");
}

// }<500>}
void append_tail(TextWriter& out, const Facts& facts) {
  out.text("}");
  append_records<kRecordsBefore, kEventOrder.size()>(out, facts);
  out.text("}");
}


void append_experiment(TextWriter& out, const ExperimentEvent& event) {
  std::string_view field = event.bucket_field;
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

// Writes `text` at `at` and points `text` there; `at` moves past it.
void keep_text(std::string_view& text, char*& at) {
  char* const copy = at;
  at = put_text(at, text);
  text = std::string_view(copy, text.size());
}

// The size of the sent texts of `ctx`.
template <size_t... I>
size_t sent_text_size(const Context& ctx, std::index_sequence<I...>) {
  size_t size = 0;
  auto add = [&](auto at) {
    constexpr FixedField kField = kEventOrder[decltype(at)::value];
    if constexpr (fixed_field_info(kField).value == FieldValue::String) {
      if (const auto& text = member_of<kField>(ctx)) size += text->size();
    }
  };
  (add(std::integral_constant<size_t, I>()), ...);
  return size;
}

// Takes the fields the documents carry, and no others: a context may hold large values
// (other_fields) that no document needs. Texts are copied to `at`.
template <size_t... I>
void keep_sent_fields(Facts& facts, const Context& ctx, char*& at, std::index_sequence<I...>) {
  auto keep = [&](auto position) {
    constexpr size_t kAt = decltype(position)::value;
    constexpr FixedField kField = kEventOrder[kAt];
    const auto& value = member_of<kField>(ctx);
    if (!value) return;
    facts.present |= uint32_t{1} << kAt;
    Fact& fact = facts.values[kAt];
    if constexpr (fixed_field_info(kField).value == FieldValue::String) {
      fact.text = *value;
      keep_text(fact.text, at);
    } else if constexpr (fixed_field_info(kField).value == FieldValue::Bool) {
      fact.flag = *value;
    } else {
      fact.number = *value;
    }
  };
  (keep(std::integral_constant<size_t, I>()), ...);
}

size_t record_text_size(const ExperimentEvent& event) {
  return event.feature_name.size() + event.variant_name.size() + event.bucket_field.size() +
         event.identifier.size() + event.owner.size();
}

// Copies the record's texts to `at`, so that it no longer borrows from the feature or the
// request.
void keep_record_texts(ExperimentEvent& event, char*& at) {
  keep_text(event.feature_name, at);
  keep_text(event.variant_name, at);
  keep_text(event.bucket_field, at);
  keep_text(event.identifier, at);
  keep_text(event.owner, at);
  event.rendered_identifier.reset();
}

}  // namespace

DebugNode event_debug_node(const Event& event) {
  return DebugNode::record(
      "Event", {{"kind", DebugNode::leaf(std::string(event_kind_name(event.kind)))},
                {"json", DebugNode::string(event.json)}});
}

size_t SerializedEvents::size() const { return batch_ ? batch_->records.size() : 0; }

const ExperimentEvent& SerializedEvents::record(size_t i) const { return batch_->records[i]; }

std::vector<std::string> SerializedEvents::texts() const {
  std::vector<std::string> texts;
  texts.reserve(size());
  for (size_t i = 0; i < size(); ++i) texts.push_back(compact_text(batch_->records[i]));
  return texts;
}

std::vector<Event> SerializedEvents::documents() const {
  std::vector<Event> documents;
  if (!batch_) return documents;
  const Batch& batch = *batch_;
  const Facts& facts = batch.facts;
  const std::array<char, 36> batch_chars = uuid_chars(batch.uuid(0));
  const std::string_view batch_uuid(batch_chars.data(), batch_chars.size());
  documents.reserve(batch.records.size());
  SharedParts parts;
  const size_t shared_room = 256 + batch_uuid.size() + facts.text_size;
  for (size_t i = 0; i < batch.records.size(); ++i) {
    const ExperimentEvent& event = batch.records[i];
    const std::array<char, 36> uuid_text = uuid_chars(batch.uuid(1 + i));
    const std::string_view uuid(uuid_text.data(), uuid_text.size());

    std::string_view field = event.bucket_field;
    std::string json;
    {  // the writer leaves the document at its final length when it goes
      TextWriter out(json, kEventFrame + kEventHead.size() + shared_room + 2 * field.size() +
                               uuid.size() + event.feature_name.size() + event.owner.size() +
                               event.variant_name.size() + event.identifier.size());
      out.text(kEventHead);
      out.room(string_room(field));
      out.json_string(field);
      if (i == 0) {
        parts.stamp_begin = out.size();
        append_stamp(out, batch.timestamp_ms);
        parts.stamp_end = out.size();
        out.room(string_room(uuid));
        out.json_string(uuid);
        parts.context_begin = out.size();
        append_context(out, facts, batch_uuid);
        parts.context_end = out.size();
        append_experiment(out, event);
        parts.tail_begin = out.size();
        append_tail(out, facts);
      } else {
        const std::string_view first = documents.front().json;
        out.text(first.substr(parts.stamp_begin, parts.stamp_end - parts.stamp_begin));
        out.room(string_room(uuid));
        out.json_string(uuid);
        out.text(first.substr(parts.context_begin, parts.context_end - parts.context_begin));
        append_experiment(out, event);
        out.text(first.substr(parts.tail_begin));
      }
    }
    documents.push_back(Event{event.kind, std::move(json)});
  }
  return documents;
}

Result<SerializedEvents, EventError> SerializedEvents::stamp(const Context& ctx,
                                                             std::vector<ExperimentEvent>&& events,
                                                             int64_t timestamp_ms,
                                                             std::span<const Uuid> uuids) {
  // Checked before anything is kept: a failing batch yields nothing but the error.
  if (!timestamps_fit(events)) return EventError{kTimestampOutOfRange};
  // Most decisions expose nothing; they need neither random bytes nor the context's facts.
  if (events.empty()) return SerializedEvents{};

  auto batch = std::make_shared<Batch>();
  batch->timestamp_ms = timestamp_ms;
  batch->later_uuids.resize(events.size() - 1);
  if (uuids.empty()) {
    // A Uuid is an array of bytes, so each array of them is one run of bytes to fill.
    auto bytes = [](auto& array) {
      return std::span<uint8_t>(array.front().data(), array.size() * sizeof(Uuid));
    };
    if (!try_random_uuids_v4(bytes(batch->first_uuids)) ||
        (!batch->later_uuids.empty() && !try_random_uuids_v4(bytes(batch->later_uuids)))) {
      return EventError{kRandomSourceUnavailable};
    }
  } else {
    std::copy(uuids.begin(), uuids.begin() + 2, batch->first_uuids.begin());
    std::copy(uuids.begin() + 2, uuids.end(), batch->later_uuids.begin());
  }
  constexpr auto kSent = std::make_index_sequence<kEventOrder.size()>();
  const size_t facts_text_size = sent_text_size(ctx, kSent);
  size_t text_size = facts_text_size;
  for (const ExperimentEvent& event : events) text_size += record_text_size(event);
  char* at = batch->inline_text;
  if (text_size > kInlineText) {
    batch->heap_text = std::make_unique_for_overwrite<char[]>(text_size);
    at = batch->heap_text.get();
  }
  batch->facts.text_size = facts_text_size;
  keep_sent_fields(batch->facts, ctx, at, kSent);
  batch->records = std::move(events);
  for (ExperimentEvent& event : batch->records) keep_record_texts(event, at);
  return SerializedEvents(std::move(batch));
}

Result<SerializedEvents, EventError> serialize_events(const Context& ctx,
                                                      std::vector<ExperimentEvent>&& events) {
  const int64_t timestamp_ms = events.empty() ? 0 : now_millis();  // no clock for no events
  return SerializedEvents::stamp(ctx, std::move(events), timestamp_ms, {});
}

Result<SerializedEvents, EventError> serialize_events_with(const Context& ctx,
                                                           std::vector<ExperimentEvent>&& events,
                                                           const EventStamp& stamp) {
  if (stamp.event_uuids.size() != events.size()) {
    return EventError{std::to_string(stamp.event_uuids.size()) + " event UUIDs given for " +
                      std::to_string(events.size()) + " events"};
  }
  std::vector<Uuid> uuids{stamp.batch_uuid};
  uuids.insert(uuids.end(), stamp.event_uuids.begin(), stamp.event_uuids.end());
  return SerializedEvents::stamp(ctx, std::move(events), stamp.timestamp_ms, uuids);
}

}  // namespace orvane
