#pragma once
// Short texts and decimal numbers written at a raw cursor. The compact texts of exposure
// events are a dozen short pieces and a few numbers, written on every read of a decision's
// events: a call into the C library's copy for each piece of a few bytes, and the general
// number conversion, cost more than the bytes themselves.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace orvane {

// The `n` bytes at `from`, sizeof(Word) <= n <= 2 * sizeof(Word), as a first and a last
// word that overlap when n is less than two words.
template <class Word>
void put_two_words(char* out, const char* from, size_t n) {
  Word head;
  Word tail;
  std::memcpy(&head, from, sizeof(Word));
  std::memcpy(&tail, from + n - sizeof(Word), sizeof(Word));
  std::memcpy(out, &head, sizeof(Word));
  std::memcpy(out + n - sizeof(Word), &tail, sizeof(Word));
}

// Copies `text` to `out` and returns the end of the copy. Up to 16 bytes (nearly every
// identifier, name and variant) as two overlapping loads and stores, without a call.
inline char* put_text(char* out, std::string_view text) {
  const char* from = text.data();
  const size_t n = text.size();
  if (n >= 8 && n <= 16) {
    put_two_words<uint64_t>(out, from, n);
  } else if (n >= 4 && n < 8) {
    put_two_words<uint32_t>(out, from, n);
  } else if (n > 0 && n < 4) {
    // One, two or three bytes: the first, the middle and the last cover them all.
    const char first = from[0];
    const char middle = from[n / 2];
    const char last = from[n - 1];
    out[0] = first;
    out[n / 2] = middle;
    out[n - 1] = last;
  } else if (n > 16) {
    std::memcpy(out, from, n);
  }
  return out + n;
}

namespace raw_text_detail {

inline constexpr std::array<uint64_t, 20> kPowersOf10 = [] {
  std::array<uint64_t, 20> powers{};
  uint64_t power = 1;
  for (uint64_t& p : powers) {
    p = power;
    power *= 10;  // wraps only after the last entry, 10^19, is stored
  }
  return powers;
}();

// "00" "01" ... "99": two digits per lookup.
inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

}  // namespace raw_text_detail

// The number of decimal digits of `value`, 1 to 20.
inline size_t decimal_digits(uint64_t value) {
  // bit_width * log10(2), rounded down, is the digit count or one less; one comparison
  // with the power of ten tells which.
  const size_t estimate = (static_cast<size_t>(std::bit_width(value | 1)) * 1233) >> 12;
  return estimate + (value >= raw_text_detail::kPowersOf10[estimate]) + (value == 0);
}

// Writes `value` in decimal at `out` (room for decimal_digits(value) bytes) and returns the
// end, with the same digits std::to_chars writes: two digits per step, with 32-bit steps
// once eight digits at a time have brought the rest below 10^8 (a millisecond timestamp
// has 13 digits).
inline char* put_decimal(char* out, uint64_t value) {
  auto pair = [](char* at, uint32_t two_digits) {
    std::memcpy(at, raw_text_detail::kDigitPairs.data() + 2 * two_digits, 2);
  };
  char* const end = out + decimal_digits(value);
  char* at = end;
  while (value >= 100000000) {
    const uint64_t rest = value / 100000000;
    const auto eight = static_cast<uint32_t>(value - rest * 100000000);
    const uint32_t high = eight / 10000;
    const uint32_t low = eight % 10000;
    at -= 8;
    pair(at, high / 100);
    pair(at + 2, high % 100);
    pair(at + 4, low / 100);
    pair(at + 6, low % 100);
    value = rest;
  }
  auto small = static_cast<uint32_t>(value);
  while (small >= 100) {
    at -= 2;
    pair(at, small % 100);
    small /= 100;
  }
  if (small >= 10) {
    pair(at - 2, small);
  } else {
    at[-1] = static_cast<char>('0' + small);
  }
  return end;
}

}  // namespace orvane
