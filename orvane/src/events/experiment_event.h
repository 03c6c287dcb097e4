#pragma once
// One exposure of a request to an experiment, as the deciding stage records it, and its
// compact text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orvane {

// Which stage produced the event; the number is part of the compact text.
enum class EventKind : uint8_t { FracAvail = 0, Override = 1, Holdout = 2, MutexGroup = 3 };

// "FracAvail", "Override", "Holdout", "MutexGroup".
std::string_view event_kind_name(EventKind kind);

// The texts are borrowed: from the feature (its name, owner, variant and bucketing field)
// and from the request (the identifier), which both outlive the decision being made. An
// event is made on every exposed request, and copying five texts into strings of its own
// cost more than the rest of the record; serialize_events copies the texts once, into the
// batch that outlives the feature and the request.
struct ExperimentEvent {
  std::string_view feature_name;
  std::string_view variant_name;
  std::string_view bucket_field;  // the bucketing field's name
  std::string_view identifier;
  uint64_t start_ts = 0;
  uint64_t stop_ts = 0;
  std::string_view owner;
  uint32_t feature_id = 0;
  uint32_t feature_version = 0;
  EventKind kind = EventKind::FracAvail;
  // The identifier's text when the request holds no text to borrow (a number, a flag or a
  // JSON value of other_fields, written out as text); `identifier` points into it. Shared,
  // so copies of the event point into the same text.
  std::shared_ptr<const std::string> rendered_identifier = nullptr;
};

// kind::::feature_id::::feature_name::::feature_version::::variant_name::::identifier::::
// bucket_field::::start_ts::::stop_ts::::owner — numbers in decimal, texts unescaped.
std::string compact_text(const ExperimentEvent& event);
// The same text written at `out`, which has room for compact_text_size(event) bytes, its
// exact length; returns the end of the text. For a reader that puts the text elsewhere at
// once (a Python string of that length) and so needs no string of its own.
size_t compact_text_size(const ExperimentEvent& event);
char* write_compact_text(char* out, const ExperimentEvent& event);

}  // namespace orvane
