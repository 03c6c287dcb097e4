#pragma once
// The quoted form of a text inside messages and debug texts: double quotes around it,
// \" and \\ for quote and backslash, \t \r \n, and \u{hex} for any other character that
// is not printable (controls, format characters, separators other than the space,
// combining marks, private use).

#include <string>
#include <string_view>

namespace orvane {

std::string quoted_text(std::string_view text);
void append_quoted(std::string& out, std::string_view text);
// The length of quoted_text(text), without writing it.
size_t quoted_size(std::string_view text);

// Decodes one UTF-8 code point starting at `pos`; advances `pos`. Invalid bytes decode to
// U+FFFD one byte at a time.
char32_t decode_utf8(std::string_view text, size_t& pos);

// Unicode White_Space property.
bool is_unicode_whitespace(char32_t c);

}  // namespace orvane
