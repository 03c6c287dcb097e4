#include "events/uuid.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "events/random_source.h"

namespace orvane {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The value of each byte as a hex digit, or -1; a table keeps the per-digit work to one load
// (a device identifier is parsed for every exposure event).
constexpr std::array<int8_t, 256> kHexValues = [] {
  std::array<int8_t, 256> values{};
  for (size_t c = 0; c < values.size(); ++c) {
    values[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                       : int8_t{-1};
  }
  return values;
}();

int hex_value(char c) { return kHexValues[static_cast<unsigned char>(c)]; }

// 32 hex digits, or the 36-character form with hyphens before the 9th, 13th, 17th and
// 21st digit; nothing else.
std::optional<Uuid> parse_digits(std::string_view text, bool hyphenated) {
  Uuid uuid{};
  size_t pos = 0;
  for (size_t i = 0; i < uuid.size(); ++i) {
    if (hyphenated && (i == 4 || i == 6 || i == 8 || i == 10)) {
      if (text[pos] != '-') return std::nullopt;
      ++pos;
    }
    int high = hex_value(text[pos]);
    int low = hex_value(text[pos + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    uuid[i] = static_cast<uint8_t>(high << 4 | low);
    pos += 2;
  }
  return uuid;
}

}  // namespace

bool try_random_uuids_v4(std::span<uint8_t> out) {
  if (!random_bytes(out)) return false;
  for (size_t at = 0; at + sizeof(Uuid) <= out.size(); at += sizeof(Uuid)) {
    out[at + 6] = static_cast<uint8_t>((out[at + 6] & 0x0F) | 0x40);  // version 4
    out[at + 8] = static_cast<uint8_t>((out[at + 8] & 0x3F) | 0x80);  // RFC 4122 variant
  }
  return true;
}

std::optional<Uuid> try_random_uuid_v4() {
  Uuid uuid;
  if (!try_random_uuids_v4(uuid)) return std::nullopt;
  return uuid;
}

std::optional<Uuid> parse_uuid(std::string_view text) {
  constexpr std::string_view kUrnPrefix = "urn:uuid:";
  switch (text.size()) {
    case 32: return parse_digits(text, false);
    case 36: return parse_digits(text, true);
    case 38:
      if (text.front() != '{' || text.back() != '}') return std::nullopt;
      return parse_digits(text.substr(1, 36), true);
    case 45:
      if (!text.starts_with(kUrnPrefix)) return std::nullopt;
      return parse_digits(text.substr(kUrnPrefix.size()), true);
    default: return std::nullopt;
  }
}

std::array<char, 36> uuid_chars(const Uuid& uuid) {
  std::array<char, 36> text;
  size_t pos = 0;
  for (size_t i = 0; i < uuid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text[pos++] = '-';
    text[pos++] = kHexDigits[uuid[i] >> 4];
    text[pos++] = kHexDigits[uuid[i] & 0x0F];
  }
  return text;
}

std::string uuid_text(const Uuid& uuid) {
  std::array<char, 36> text = uuid_chars(uuid);
  return std::string(text.data(), text.size());
}

}  // namespace orvane
