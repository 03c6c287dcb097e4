#pragma once
// One exposure of a request to an experiment, as the deciding stage records it, and its
// compact text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "context/context_field.h"

namespace orvane {

// Which stage produced the event; the number is part of the compact text.
enum class EventKind : uint8_t { FracAvail = 0, Override = 1, Holdout = 2, MutexGroup = 3 };

// "FracAvail", "Override", "Holdout", "MutexGroup".
std::string_view event_kind_name(EventKind kind);

struct ExperimentEvent {
  std::string feature_name;
  std::string variant_name;
  ContextField bucket_field;
  std::string identifier;
  uint64_t start_ts = 0;
  uint64_t stop_ts = 0;
  std::string owner;
  uint32_t feature_id = 0;
  uint32_t feature_version = 0;
  EventKind kind = EventKind::FracAvail;
};

// kind::::feature_id::::feature_name::::feature_version::::variant_name::::identifier::::
// bucket_field::::start_ts::::stop_ts::::owner — numbers in decimal, texts unescaped.
std::string compact_text(const ExperimentEvent& event);
// The same text written at `out`, which has room for compact_text_room(event) bytes (an
// upper bound); returns the end of the text. For a reader that copies the text elsewhere
// at once and so needs no string of its own.
size_t compact_text_room(const ExperimentEvent& event);
char* write_compact_text(char* out, const ExperimentEvent& event);

}  // namespace orvane
