#include "base/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/debug_text.h"
#include "base/quote.h"

namespace orvane {
namespace {

// The shortest decimal digits that read back as `value` (|value| > 0, finite), and the
// exponent `point` such that value = 0.DIGITS x 10^point.
struct ShortestDigits {
  char digits[24];
  int length = 0;
  int point = 0;
};

ShortestDigits shortest_digits(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                 std::chars_format::scientific);
  (void)ec;
  ShortestDigits out;
  const char* p = buffer;
  int exponent = 0;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') out.digits[out.length++] = *p;
  }
  if (p < end) std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
  out.point = exponent + 1;
  return out;
}

void append_digits_fixed(std::string& out, const ShortestDigits& d, bool force_fraction) {
  if (d.point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-d.point), '0');
    out.append(d.digits, static_cast<size_t>(d.length));
  } else if (d.point >= d.length) {
    out.append(d.digits, static_cast<size_t>(d.length));
    out.append(static_cast<size_t>(d.point - d.length), '0');
    if (force_fraction) out += ".0";
  } else {
    out.append(d.digits, static_cast<size_t>(d.point));
    out += '.';
    out.append(d.digits + d.point, static_cast<size_t>(d.length - d.point));
  }
}

void append_digits_exponent(std::string& out, const ShortestDigits& d) {
  out += d.digits[0];
  if (d.length > 1) {
    out += '.';
    out.append(d.digits + 1, static_cast<size_t>(d.length - 1));
  }
  out += 'e';
  out += std::to_string(d.point - 1);
}

// Floats in JSON text as the usual shortest round-trip writers lay them out: 1.0, 0.001,
// 1e16, 1.5e-7.
void append_json_float(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (std::signbit(value)) out += '-';
  if (value == 0) {
    out += "0.0";
    return;
  }
  ShortestDigits d = shortest_digits(value);
  if (d.point > -5 && d.point <= 16) {
    append_digits_fixed(out, d, true);
  } else {
    append_digits_exponent(out, d);
  }
}

template <class Int>
void append_int(std::string& out, Int value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  out.append(buffer, end);
}

// Whether any of the eight bytes at `p` is a control character, a quote or a backslash
// (the classic has-zero-byte tests on the word; exact as a yes or no for the block).
bool any_byte_needs_escape(const char* p) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  uint64_t control = (word - kOnes * 0x20) & ~word & kHighs;
  uint64_t quote = word ^ (kOnes * '"');
  uint64_t backslash = word ^ (kOnes * '\\');
  quote = (quote - kOnes) & ~quote & kHighs;
  backslash = (backslash - kOnes) & ~backslash & kHighs;
  return (control | quote | backslash) != 0;
}

}  // namespace

DebugNode json_debug_node(const Json& value) {
  using T = Json::value_t;
  auto one = [](const char* name, DebugNode item) {
    std::vector<DebugNode> items;
    items.push_back(std::move(item));
    return DebugNode::tuple(name, std::move(items));
  };
  switch (value.type()) {
    case T::null:
    case T::discarded:
      return DebugNode::leaf("Null");
    case T::boolean:
      return one("Bool", DebugNode::leaf(value.get_ref<const bool&>() ? "true" : "false"));
    case T::number_integer:
      return one("Number", DebugNode::leaf(std::to_string(value.get<int64_t>())));
    case T::number_unsigned:
      return one("Number", DebugNode::leaf(std::to_string(value.get<uint64_t>())));
    case T::number_float:
      return one("Number", DebugNode::leaf(float_debug(value.get<double>())));
    case T::string:
      return one("String", DebugNode::string(value.get_ref<const std::string&>()));
    case T::array: {
      std::vector<DebugNode> items;
      for (const Json& item : value.get_ref<const Json::array_t&>()) {
        items.push_back(json_debug_node(item));
      }
      return one("Array", DebugNode::list(std::move(items)));
    }
    case T::object: {
      std::vector<std::pair<DebugNode, DebugNode>> entries;
      for (const auto& [key, item] : value.get_ref<const JsonObject&>()) {
        entries.emplace_back(DebugNode::string(key), json_debug_node(item));
      }
      return one("Object", DebugNode::map(std::move(entries)));
    }
    case T::binary:
      return DebugNode::leaf("Null");
  }
  return DebugNode::leaf("Null");
}

char* write_json_string(char* at, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char* data = text.data();
  const size_t size = text.size();
  *at++ = '"';
  size_t i = 0;
  while (i < size) {
    // Most texts (names, identifiers, URLs) have nothing to escape: eight bytes at a time.
    if (i + 8 <= size && !any_byte_needs_escape(data + i)) {
      std::memcpy(at, data + i, 8);
      at += 8;
      i += 8;
      continue;
    }
    auto c = static_cast<unsigned char>(data[i++]);
    if (c >= 0x20 && c != '"' && c != '\\') {
      *at++ = static_cast<char>(c);
      continue;
    }
    *at++ = '\\';
    switch (c) {
      case '"': *at++ = '"'; break;
      case '\\': *at++ = '\\'; break;
      case '\b': *at++ = 'b'; break;
      case '\f': *at++ = 'f'; break;
      case '\n': *at++ = 'n'; break;
      case '\r': *at++ = 'r'; break;
      case '\t': *at++ = 't'; break;
      default:
        std::memcpy(at, "u00", 3);
        at += 3;
        *at++ = kHex[c >> 4];
        *at++ = kHex[c & 0xF];
    }
  }
  *at++ = '"';
  return at;
}

void append_json_string(std::string& out, std::string_view text) {
  const size_t used = out.size();
  out.resize(used + json_string_room(text));
  char* end = write_json_string(out.data() + used, text);
  out.resize(static_cast<size_t>(end - out.data()));
}

void append_json_compact(std::string& out, const Json& value) {
  using T = Json::value_t;
  switch (value.type()) {
    case T::null:
    case T::discarded:
    case T::binary:
      out += "null";
      return;
    case T::boolean:
      out += value.get_ref<const bool&>() ? "true" : "false";
      return;
    case T::number_integer:
      append_int(out, value.get_ref<const Json::number_integer_t&>());
      return;
    case T::number_unsigned:
      append_int(out, value.get_ref<const Json::number_unsigned_t&>());
      return;
    case T::number_float:
      append_json_float(out, value.get_ref<const Json::number_float_t&>());
      return;
    case T::string:
      append_json_string(out, value.get_ref<const std::string&>());
      return;
    case T::array: {
      out += '[';
      bool first = true;
      for (const Json& item : value.get_ref<const Json::array_t&>()) {
        if (!first) out += ',';
        first = false;
        append_json_compact(out, item);
      }
      out += ']';
      return;
    }
    case T::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : value.get_ref<const JsonObject&>()) {
        if (!first) out += ',';
        first = false;
        append_json_string(out, key);
        out += ':';
        append_json_compact(out, item);
      }
      out += '}';
      return;
    }
  }
}

std::string json_compact(const Json& value) {
  std::string out;
  append_json_compact(out, value);
  return out;
}

std::string json_debug(const Json& value) { return json_debug_node(value).render(); }

const char* json_kind_name(const Json& value) {
  using T = Json::value_t;
  switch (value.type()) {
    case T::null:
    case T::discarded:
      return "null";
    case T::boolean:
      return "bool";
    case T::number_integer:
    case T::number_unsigned:
    case T::number_float:
      return "number";
    case T::string:
      return "string";
    case T::array:
      return "array";
    case T::object:
      return "object";
    case T::binary:
      return "null";
  }
  return "null";
}

std::string float_debug(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  std::string out;
  if (std::signbit(value)) out += '-';
  if (value == 0) return out + "0.0";
  double magnitude = std::fabs(value);
  ShortestDigits d = shortest_digits(value);
  if (magnitude >= 1e-4 && magnitude < 1e16) {
    append_digits_fixed(out, d, true);
  } else {
    append_digits_exponent(out, d);
  }
  return out;
}

}  // namespace orvane
