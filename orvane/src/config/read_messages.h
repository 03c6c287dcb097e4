#pragma once
// The texts of the configuration reader's messages, worded as typed JSON readers word
// them ("invalid type: integer `5`, expected a string"), so that a message names both what
// the file holds and what the record wanted.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvane::config_detail {

// One JSON scalar as the parser delivered it.
struct Scalar {
  enum class Kind { Null, Bool, Unsigned, Signed, Float, String };
  Kind kind = Kind::Null;
  bool boolean = false;
  uint64_t unsigned_value = 0;
  int64_t signed_value = 0;
  double float_value = 0;
  // A string's text, borrowed from the parser for the duration of the event: targets copy
  // it, so the parser keeps its buffer (and that buffer's room) for the next string.
  std::string_view text;
};

// "null", "boolean `true`", "integer `5`", "floating point `1.0`", "string \"a\"".
std::string unexpected_text(const Scalar& value);
std::string invalid_type(std::string_view unexpected, std::string_view expected);
std::string invalid_value(std::string_view unexpected, std::string_view expected);
std::string invalid_length(size_t length, std::string_view expected);
std::string missing_field(std::string_view name);
std::string duplicate_field(std::string_view name);
// "unknown variant `x`, expected one of `a`, `b`, `c`" (or "`a` or `b`" for two names).
std::string unknown_variant(std::string_view name, std::span<const std::string_view> names);

}  // namespace orvane::config_detail
