#include "config/json_cursor.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace orvane::config_detail {
namespace {

constexpr const char* kEofValue = "EOF while parsing a value";
constexpr const char* kEofString = "EOF while parsing a string";
constexpr const char* kInvalidNumber = "invalid number";

bool is_digit(int byte) { return byte >= '0' && byte <= '9'; }

// The newlines of `text` and where the last one is, eight bytes at a time: every byte of a
// large file passes through here once, and a byte-wise scan took a tenth of its load.
struct Newlines {
  size_t count = 0;
  size_t last = std::string_view::npos;
};

Newlines find_newlines(std::string_view text) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kNewlines = 0x0A0A0A0A0A0A0A0AULL;
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  Newlines found;
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    const uint64_t x = word ^ kNewlines;  // a zero byte where each newline was
    // Per byte, without carries between bytes: the top bit is set where x's byte is zero.
    const uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
    if (zero == 0) continue;
    // The bytes' 0 or 1 summed into the top byte; at most 8, so nothing overflows.
    found.count += static_cast<size_t>(((zero >> 7) * kOnes) >> 56);
    // The word was loaded little-endian, so its last newline is its highest zero byte.
    found.last = at + static_cast<size_t>(63 - std::countl_zero(zero)) / 8;
  }
  for (; at < text.size(); ++at) {
    if (text[at] != '\n') continue;
    ++found.count;
    found.last = at;
  }
  return found;
}

// The bytes that end the plain run of a string: its closing quote, an escape, a control.
constexpr auto kStringStops = [] {
  std::array<bool, 256> stops{};
  for (size_t byte = 0; byte < 0x20; ++byte) stops[byte] = true;
  stops['"'] = true;
  stops['\\'] = true;
  return stops;
}();

int hex_value(int byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    unsigned char b = *p;
    if (b < 0x80) {
      ++p;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (size_t i = 2; i < length; ++i) {
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    }
    p += length;
  }
  return true;
}

void append_utf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

JsonError JsonCursor::error() const {
  if (!failure_) return JsonError{"expected value", 1, 1};
  size_t at = failure_->at.value_or(counted());
  Newlines before = find_newlines(std::string_view(data_ + released_, at - released_));
  size_t line_start =
      before.last == std::string_view::npos ? line_start_ : released_ + before.last + 1;
  return JsonError{failure_->message, 1 + released_lines_ + before.count, at - line_start};
}

void JsonCursor::release_read() {
  if (!releasable_) return;
  // In steps of a few megabytes: each is one system call and one count of its lines.
  constexpr size_t kStep = size_t{4} << 20;
  static const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  size_t cut = next_ - next_ % page;
  if (cut < released_ + kStep) return;
  Newlines newlines = find_newlines(std::string_view(data_ + released_, cut - released_));
  if (newlines.last != std::string_view::npos) line_start_ = released_ + newlines.last + 1;
  released_lines_ += newlines.count;
  ::madvise(const_cast<char*>(data_) + released_, cut - released_, MADV_DONTNEED);
  released_ = cut;
}

bool JsonCursor::literal(std::string_view rest) {
  for (char expected : rest) {
    int byte = next();
    if (byte == kEnd) return fail(kEofValue);
    if (byte != static_cast<unsigned char>(expected)) return fail("expected ident");
  }
  return true;
}

bool JsonCursor::hex4(unsigned& out) {
  out = 0;
  for (int i = 0; i < 4; ++i) {
    int byte = next();
    if (byte == kEnd) return fail(kEofString);
    int value = hex_value(byte);
    if (value < 0) return fail("invalid escape");
    out = out * 16 + static_cast<unsigned>(value);
  }
  return true;
}

// After a backslash: appends what the escape stands for to the scratch space. A leading
// surrogate must be followed at once by the escape of a trailing one.
bool JsonCursor::escape() {
  int byte = next();
  switch (byte) {
    case kEnd: return fail(kEofString);
    case '"': scratch_.push_back('"'); return true;
    case '\\': scratch_.push_back('\\'); return true;
    case '/': scratch_.push_back('/'); return true;
    case 'b': scratch_.push_back('\b'); return true;
    case 'f': scratch_.push_back('\f'); return true;
    case 'n': scratch_.push_back('\n'); return true;
    case 'r': scratch_.push_back('\r'); return true;
    case 't': scratch_.push_back('\t'); return true;
    case 'u': break;
    default: return fail("invalid escape");
  }
  unsigned first = 0;
  if (!hex4(first)) return false;
  if (first >= 0xDC00 && first <= 0xDFFF) return fail("lone leading surrogate in hex escape");
  if (first < 0xD800 || first > 0xDBFF) {
    append_utf8(scratch_, first);
    return true;
  }
  byte = next();
  if (byte == kEnd) return fail(kEofString);
  if (byte != '\\') return fail("unexpected end of hex escape");
  byte = next();
  if (byte == kEnd) return fail(kEofString);
  if (byte != 'u') return fail("unexpected end of hex escape");
  unsigned second = 0;
  if (!hex4(second)) return false;
  if (second < 0xDC00 || second > 0xDFFF) return fail("lone leading surrogate in hex escape");
  append_utf8(scratch_, 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
  return true;
}

bool JsonCursor::string(std::string_view& out) {
  // Most strings hold no escape: they are found with one scan and borrowed.
  size_t start = next_;
  size_t end = start;
  unsigned char seen = 0;  // the bits of every byte: ASCII text needs no UTF-8 check
  while (end < size_) {
    auto byte = static_cast<unsigned char>(data_[end]);
    if (kStringStops[byte]) break;
    seen |= byte;
    ++end;
  }
  next_ = end;
  peeked_ = false;
  if (end < size_ && data_[end] == '"') {
    eat();
    out = std::string_view(data_ + start, end - start);
    if (seen < 0x80) return true;
  } else {
    scratch_.assign(data_ + start, end - start);
    for (;;) {
      int byte = next();
      if (byte == kEnd) return fail(kEofString);
      if (byte == '"') break;
      if (byte == '\\') {
        if (!escape()) return false;
      } else if (byte < 0x20) {
        return fail("control character (\\u0000-\\u001F) found while parsing a string");
      } else {
        scratch_.push_back(static_cast<char>(byte));
      }
    }
    out = scratch_;
  }
  // The whole string is read before its encoding is checked, so any other fault in it
  // comes first.
  if (!valid_utf8(out)) return fail("invalid unicode code point");
  return true;
}

bool JsonCursor::skip_string() {
  scratch_.clear();
  for (;;) {
    int byte = next();
    if (byte == kEnd) return fail(kEofString);
    if (byte == '"') return true;
    if (byte == '\\') {
      if (!escape()) return false;
    } else if (byte < 0x20) {
      return fail("control character (\\u0000-\\u001F) found while parsing a string");
    }
  }
}

bool JsonCursor::number(bool negative, Scalar& out, bool named) {
  const size_t start = next_ - (negative ? 1 : 0);
  int byte = next();
  if (byte == kEnd) return fail(kEofValue);
  bool nonzero = false;
  if (byte == '0') {
    // There can be only one leading zero.
    if (is_digit(peek())) {
      if (!named) return fail(kInvalidNumber);
      if (negative) {
        out.kind = Scalar::Kind::Float;
        out.float_value = -0.0;
      } else {
        out.kind = Scalar::Kind::Unsigned;
        out.unsigned_value = 0;
      }
      return true;
    }
  } else if (byte >= '1' && byte <= '9') {
    nonzero = true;
    while (is_digit(peek())) eat();
  } else {
    return fail(kInvalidNumber);
  }
  bool integral = true;
  if (peek() == '.') {
    integral = false;
    eat();
    bool digits = false;
    for (int digit = peek(); is_digit(digit); digit = peek()) {
      nonzero = nonzero || digit != '0';
      digits = true;
      eat();
    }
    if (!digits) return fail(peek() == kEnd ? kEofValue : kInvalidNumber);
  }
  // Where an exponent stopped fitting 32 bits: a number that is not zero with such a
  // positive exponent is out of range as of that digit.
  std::optional<size_t> exponent_overflow;
  bool negative_exponent = false;
  if (int mark = peek(); mark == 'e' || mark == 'E') {
    integral = false;
    eat();
    int sign = peek();
    if (sign == '+' || sign == '-') {
      negative_exponent = sign == '-';
      eat();
    }
    byte = next();
    if (byte == kEnd) return fail(kEofValue);
    if (!is_digit(byte)) return fail(kInvalidNumber);
    int64_t exponent = byte - '0';
    for (int digit = peek(); is_digit(digit); digit = peek()) {
      eat();
      if (!exponent_overflow) {
        exponent = exponent * 10 + (digit - '0');
        if (exponent > std::numeric_limits<int32_t>::max()) exponent_overflow = next_;
      }
    }
  }
  const char* first = data_ + start;
  const char* last = data_ + next_;
  if (integral) {
    uint64_t magnitude = 0;
    if (std::from_chars(first + (negative ? 1 : 0), last, magnitude).ec == std::errc()) {
      if (!negative) {
        out.kind = Scalar::Kind::Unsigned;
        out.unsigned_value = magnitude;
        return true;
      }
      // A minus zero is a float, like any negative number that is not below zero.
      if (magnitude != 0 && magnitude <= uint64_t{1} << 63) {
        out.kind = Scalar::Kind::Signed;
        out.signed_value = static_cast<int64_t>(0 - magnitude);
        return true;
      }
    }
  }
  double value = 0;
  if (std::from_chars(first, last, value).ec != std::errc()) {
    // Out of range either way: strtod tells a tiny number (0 or subnormal) from a huge one.
    value = std::strtod(std::string(first, last).c_str(), nullptr);
  }
  if (std::isinf(value) && !named) {
    if (exponent_overflow && nonzero && !negative_exponent) {
      failure_ = Failure{"number out of range", *exponent_overflow};
      return false;
    }
    return fail("number out of range");
  }
  out.kind = Scalar::Kind::Float;
  out.float_value = value;
  return true;
}

bool JsonCursor::next_element(Items& items, bool& more) {
  int byte = skip_blanks();
  more = false;
  if (byte == ']') return true;
  if (byte == ',' && !items.first) {
    eat();
    byte = skip_blanks();
  } else if (byte == kEnd) {
    return fail("EOF while parsing a list");
  } else if (items.first) {
    items.first = false;
  } else {
    return fail("expected `,` or `]`");
  }
  if (byte == ']') return fail("trailing comma");
  if (byte == kEnd) return fail(kEofValue);
  more = true;
  return true;
}

bool JsonCursor::next_key(Items& items, bool& more, std::string_view& key) {
  int byte = skip_blanks();
  more = false;
  if (byte == '}') return true;
  if (byte == ',' && !items.first) {
    eat();
    byte = skip_blanks();
  } else if (byte == kEnd) {
    return fail("EOF while parsing an object");
  } else if (items.first) {
    items.first = false;
  } else {
    return fail("expected `,` or `}`");
  }
  if (byte == '"') {
    eat();
    more = true;
    return string(key);
  }
  if (byte == '}') return fail("trailing comma");
  if (byte == kEnd) return fail(kEofValue);
  return fail("key must be a string");
}

bool JsonCursor::colon() {
  int byte = skip_blanks();
  if (byte == ':') {
    eat();
    return true;
  }
  return fail(byte == kEnd ? "EOF while parsing an object" : "expected `:`");
}

bool JsonCursor::end_sequence(bool report) {
  int byte = skip_blanks();
  if (byte == ']') {
    eat();
    return true;
  }
  if (!report) return false;
  if (byte == ',') {
    eat();
    return fail(skip_blanks() == ']' ? "trailing comma" : "trailing characters");
  }
  return fail(byte == kEnd ? "EOF while parsing a list" : "trailing characters");
}

bool JsonCursor::end_map(bool report) {
  int byte = skip_blanks();
  if (byte == '}') {
    eat();
    return true;
  }
  if (!report) return false;
  if (byte == ',') return fail("trailing comma");
  return fail(byte == kEnd ? "EOF while parsing an object" : "trailing characters");
}

bool JsonCursor::end_variant() {
  int byte = skip_blanks();
  if (byte == '}') {
    eat();
    return true;
  }
  if (byte == kEnd) return fail("EOF while parsing an object");
  if (byte != ',') return fail("expected value");
  size_t comma = counted();
  eat();
  if (skip_blanks() == ',') return fail("expected value");
  failure_ = Failure{"expected value", comma};
  return false;
}

bool JsonCursor::skip_value() {
  int byte = skip_blanks();
  Scalar number_read;
  switch (byte) {
    case kEnd: return fail(kEofValue);
    case 'n': eat(); return literal("ull");
    case 't': eat(); return literal("rue");
    case 'f': eat(); return literal("alse");
    case '-': eat(); return number(true, number_read);
    case '"': eat(); return skip_string();
    case '[':
    case '{': {
      if (!enter()) return false;
      eat();
      bool ok = skip_container(byte);
      leave();
      return ok;
    }
    default:
      if (is_digit(byte)) return number(false, number_read);
      return fail("expected value");
  }
}

// The members of a skipped container. A comma must be followed by another member: a
// closing byte there is no value (or no key).
bool JsonCursor::skip_container(int open) {
  const int close = open == '[' ? ']' : '}';
  bool first = true;
  for (;;) {
    int byte = skip_blanks();
    if (byte == close) {
      eat();
      return true;
    }
    if (byte == ',' && !first) {
      eat();
      byte = skip_blanks();
    } else if (byte == kEnd) {
      return fail(open == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
    } else if (first) {
      first = false;
    } else {
      return fail(open == '[' ? "expected `,` or `]`" : "expected `,` or `}`");
    }
    if (open == '{') {
      if (byte == kEnd) return fail("EOF while parsing an object");
      if (byte != '"') return fail("key must be a string");
      eat();
      if (!skip_string() || !colon()) return false;
    }
    if (!skip_value()) return false;
  }
}

bool JsonCursor::invalid_type_here(std::string_view expected, bool named) {
  int byte = peek();
  Scalar value;
  std::string_view text;
  switch (byte) {
    case 'n':
      eat();
      if (!literal("ull")) return false;
      break;
    case 't':
    case 'f':
      eat();
      if (!literal(byte == 't' ? "rue" : "alse")) return false;
      value.kind = Scalar::Kind::Bool;
      value.boolean = byte == 't';
      break;
    case '-':
      eat();
      if (!number(true, value, named)) return false;
      break;
    case '"':
      eat();
      if (!string(text)) return false;
      value.kind = Scalar::Kind::String;
      value.text = text;
      break;
    case '[': return fail(invalid_type("sequence", expected));
    case '{': return fail(invalid_type("map", expected));
    default:
      if (!is_digit(byte)) return fail("expected value");
      if (!number(false, value, named)) return false;
      break;
  }
  return fail(invalid_type(unexpected_text(value), expected));
}

}  // namespace orvane::config_detail
