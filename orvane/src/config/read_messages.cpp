#include "config/read_messages.h"

#include "base/json.h"
#include "base/quote.h"

namespace orvane::config_detail {

std::string unexpected_text(const Scalar& value) {
  switch (value.kind) {
    case Scalar::Kind::Null: return "null";
    case Scalar::Kind::Bool: return value.boolean ? "boolean `true`" : "boolean `false`";
    case Scalar::Kind::Unsigned: return "integer `" + std::to_string(value.unsigned_value) + "`";
    case Scalar::Kind::Signed: return "integer `" + std::to_string(value.signed_value) + "`";
    // The compact JSON writer lays floats out in the shortest round-trip form with a
    // fraction or an exponent, which is how these messages show them.
    case Scalar::Kind::Float: return "floating point `" + json_compact(Json(value.float_value)) + "`";
    case Scalar::Kind::String: return "string " + quoted_text(value.text);
  }
  return "null";
}

std::string invalid_type(std::string_view unexpected, std::string_view expected) {
  std::string out = "invalid type: ";
  out.append(unexpected).append(", expected ").append(expected);
  return out;
}

std::string invalid_value(std::string_view unexpected, std::string_view expected) {
  std::string out = "invalid value: ";
  out.append(unexpected).append(", expected ").append(expected);
  return out;
}

std::string invalid_length(size_t length, std::string_view expected) {
  std::string out = "invalid length " + std::to_string(length) + ", expected ";
  out.append(expected);
  return out;
}

std::string missing_field(std::string_view name) {
  std::string out = "missing field `";
  out.append(name).append("`");
  return out;
}

std::string duplicate_field(std::string_view name) {
  std::string out = "duplicate field `";
  out.append(name).append("`");
  return out;
}

std::string unknown_variant(std::string_view name, std::span<const std::string_view> names) {
  std::string out = "unknown variant `";
  out.append(name).append("`, expected ");
  if (names.size() == 2) {
    out.append("`").append(names[0]).append("` or `").append(names[1]).append("`");
    return out;
  }
  if (names.size() > 2) out += "one of ";
  bool first = true;
  for (std::string_view n : names) {
    if (!first) out += ", ";
    first = false;
    out.append("`").append(n).append("`");
  }
  return out;
}

}  // namespace orvane::config_detail
