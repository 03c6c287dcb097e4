#include "base/quote.h"

#include <algorithm>
#include <cstdint>

namespace orvane {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Characters that are not shown as they are: format characters, separators other than
// the ASCII space, combining marks, private use and the non-characters at the end of each
// plane. Controls are handled separately.
constexpr Range kHidden[] = {
    {0x00A0, 0x00A0},   {0x00AD, 0x00AD},   {0x0300, 0x036F},   {0x0483, 0x0489},
    {0x0591, 0x05BD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x1680, 0x1680},   {0x180E, 0x180E},   {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},   {0x2000, 0x200F},   {0x2028, 0x202F},   {0x205F, 0x2064},
    {0x2066, 0x206F},   {0x20D0, 0x20FF},   {0x3000, 0x3000},   {0xD800, 0xF8FF},
    {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},   {0xFEFF, 0xFEFF},   {0xFFF0, 0xFFFB},
    {0x110BD, 0x110BD}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
    {0xF0000, 0x10FFFF},
};

bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
  if ((c & 0xFFFE) == 0xFFFE) return false;
  for (const Range& r : kHidden) {
    if (c < r.first) return true;
    if (c <= r.last) return false;
  }
  return true;
}

}  // namespace

char32_t decode_utf8(std::string_view text, size_t& pos) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(pos);
  int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
               : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 1) {
    ++pos;
    return lead;
  }
  if (length == 0 || pos + static_cast<size_t>(length) > text.size()) {
    ++pos;
    return 0xFFFD;
  }
  char32_t c = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    unsigned char next = byte(pos + static_cast<size_t>(i));
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    c = (c << 6) | (next & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += static_cast<size_t>(length);
  return c;
}

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

namespace {

// Writes the quoted form through `out.append(piece)`, so the same walk measures the
// quoted text or writes it.
template <class Out>
void write_quoted(Out& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.append("\"");
  size_t pos = 0;
  while (pos < text.size()) {
    size_t start = pos;
    char32_t c = decode_utf8(text, pos);
    switch (c) {
      case '"': out.append("\\\""); continue;
      case '\\': out.append("\\\\"); continue;
      case '\t': out.append("\\t"); continue;
      case '\r': out.append("\\r"); continue;
      case '\n': out.append("\\n"); continue;
      default: break;
    }
    bool invalid_byte = c == 0xFFFD && pos - start == 1;
    if (is_printable(c) && !invalid_byte) {
      out.append(text.substr(start, pos - start));
      continue;
    }
    out.append("\\u{");
    char digits[8];
    int n = 0;
    uint32_t v = c;
    do {
      digits[n++] = kHex[v & 0xF];
      v >>= 4;
    } while (v != 0);
    while (n > 0) out.append(std::string_view(&digits[--n], 1));
    out.append("}");
  }
  out.append("\"");
}

struct StringOut {
  std::string& text;
  void append(std::string_view piece) { text.append(piece); }
};

struct CountOut {
  size_t size = 0;
  void append(std::string_view piece) { size += piece.size(); }
};

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  StringOut sink{out};
  write_quoted(sink, text);
}

size_t quoted_size(std::string_view text) {
  CountOut count;
  write_quoted(count, text);
  return count.size;
}

std::string quoted_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  append_quoted(out, text);
  // Escapes may have doubled the room; a long text does not keep that for its lifetime.
  if (out.capacity() - out.size() > std::max<size_t>(4096, out.size() / 4)) out.shrink_to_fit();
  return out;
}

}  // namespace orvane
