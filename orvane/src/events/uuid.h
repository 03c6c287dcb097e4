#pragma once
// Random version-4 UUIDs from the operating system's random source, and the parsing of
// the textual forms a device identifier may come in.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvane {

using Uuid = std::array<uint8_t, 16>;

// A fresh random version-4 UUID. Bytes may be drawn from a buffer refilled from the OS;
// a forked process never repeats its parent's or a sibling's UUIDs. Thread-safe.
// Absent only when every OS random source fails; never made of predictable bytes.
std::optional<Uuid> try_random_uuid_v4();
// The same for several UUIDs at once, 16 bytes each, back to back in `out` (whose size is
// a multiple of 16): one draw from the random source for all of them. False, with nothing
// usable in `out`, only when every OS random source fails.
[[nodiscard]] bool try_random_uuids_v4(std::span<uint8_t> out);

// Accepts 32 hex digits; the hyphenated 36-character form; the hyphenated form in braces;
// or the hyphenated form after "urn:uuid:". Hex digits in either case.
std::optional<Uuid> parse_uuid(std::string_view text);

// Canonical lower-case hyphenated form, 36 characters: as characters without allocating,
// or as a new string.
std::array<char, 36> uuid_chars(const Uuid& uuid);
std::string uuid_text(const Uuid& uuid);

}  // namespace orvane
