#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.h"
#include "base/quote.h"
#include "base/raw_text.h"

namespace orvane {
namespace {

TEST(Quote, EscapesAsMessagesShowThem) {
  struct Case { const char* name; std::string text; const char* quoted; };
  const Case kCases[] = {
      {"plain", "value", "\"value\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab cr lf", "a\tb\rc\nd", "\"a\\tb\\rc\\nd\""},
      {"control", "a\x01" "b", "\"a\\u{1}b\""},
      {"delete", "\x7f", "\"\\u{7f}\""},
      {"non-breaking space", "a\xc2\xa0" "b", "\"a\\u{a0}b\""},
      {"line separator", "\xe2\x80\xa8", "\"\\u{2028}\""},
      {"printable non-ascii", "caf\xc3\xa9 \xe6\x97\xa5", "\"caf\xc3\xa9 \xe6\x97\xa5\""},
      {"empty", "", "\"\""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(quoted_text(c.text), c.quoted);
  }
}

TEST(Json, CompactDebugAndKinds) {
  struct Case { const char* name; Json value; const char* compact; const char* debug; const char* kind; };
  const Case kCases[] = {
      {"null", Json(nullptr), "null", "Null", "null"},
      {"bool", Json(true), "true", "Bool(true)", "bool"},
      {"unsigned", Json(5u), "5", "Number(5)", "number"},
      {"negative", Json(-5), "-5", "Number(-5)", "number"},
      {"float", Json(2.5), "2.5", "Number(2.5)", "number"},
      {"integral float", Json(7.0), "7.0", "Number(7.0)", "number"},
      {"large float", Json(1e20), "1e20", "Number(1e20)", "number"},
      {"small float", Json(1.5e-7), "1.5e-7", "Number(1.5e-7)", "number"},
      {"string", Json("a\"b\n"), "\"a\\\"b\\n\"", "String(\"a\\\"b\\n\")", "string"},
      {"array", Json::array({1, "x"}), "[1,\"x\"]", "Array([Number(1), String(\"x\")])", "array"},
      {"object", Json::object({{"b", 1}, {"a", nullptr}}), "{\"a\":null,\"b\":1}",
       "Object({\"a\": Null, \"b\": Number(1)})", "object"},
      {"empty object", Json::object(), "{}", "Object({})", "object"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(json_compact(c.value), c.compact);
    EXPECT_EQ(json_debug(c.value), c.debug);
    EXPECT_STREQ(json_kind_name(c.value), c.kind);
  }
}

// One character at a time, the obvious way: the reference for the word-at-a-time writer.
std::string escaped_slowly(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    char buffer[8];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

TEST(Json, StringEscapesAtEveryOffset) {
  // Every character that needs escaping, and neighbours that do not (0x1f/0x20, 0x21,
  // 0x5b/0x5d, bytes above 0x7f), at each place of texts of 1 to 20 bytes (whole blocks of
  // eight and short tails).
  const char kSpecial[] = {'"', '\\', '\n', '\x01', '\x1f', ' ', '!', '[', ']', '\x7f', '\x80', '\xff'};
  for (char special : kSpecial) {
    for (size_t length = 1; length <= 20; ++length) {
      for (size_t at = 0; at < length; ++at) {
        std::string text(length, 'a');
        text[at] = special;
        SCOPED_TRACE(testing::Message() << "byte " << int(static_cast<unsigned char>(special))
                                        << " at " << at << " of " << length);
        std::string out;
        append_json_string(out, text);
        EXPECT_EQ(out, escaped_slowly(text));
      }
    }
  }
  std::string out = "x";
  append_json_string(out, "caf\xc3\xa9 \"q\" \\ \t");
  EXPECT_EQ(out, "x\"caf\xc3\xa9 \\\"q\\\" \\\\ \\t\"");
}

TEST(Json, FloatDebug) {
  struct Case { double value; const char* text; };
  const Case kCases[] = {{0.0, "0.0"}, {-0.0, "-0.0"}, {1.0, "1.0"}, {0.1, "0.1"},
                         {1e15, "1000000000000000.0"}, {1e16, "1e16"}, {1e-4, "0.0001"},
                         {1e-5, "1e-5"}, {0.30000000000000004, "0.30000000000000004"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(float_debug(c.value), c.text);
  }
}

TEST(RawText, DecimalMatchesToChars) {
  // Every digit count's first and last value, the widths' limits, and a spread between.
  std::vector<uint64_t> values = {0, UINT32_MAX, uint64_t{UINT32_MAX} + 1, INT64_MAX,
                                  uint64_t{INT64_MAX} + 1, UINT64_MAX, 1767225600000};
  for (uint64_t power = 1; power <= UINT64_MAX / 10; power *= 10) {
    values.insert(values.end(), {power, power - 1, power * 10 - 1, power + 1, power * 5});
  }
  uint64_t spread = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 2000; ++i) {
    spread = spread * 6364136223846793005u + 1442695040888963407u;
    values.push_back(spread >> (i % 64));
  }
  for (uint64_t value : values) {
    char expected[24];
    const std::string_view want(expected,
                                static_cast<size_t>(std::to_chars(expected, expected + 24, value).ptr - expected));
    char written[24];
    std::fill(std::begin(written), std::end(written), '#');
    char* end = put_decimal(written, value);
    ASSERT_EQ(std::string_view(written, static_cast<size_t>(end - written)), want) << value;
    EXPECT_EQ(decimal_digits(value), want.size()) << value;
    EXPECT_EQ(written[want.size()], '#') << value;  // nothing past the end
  }
}

TEST(RawText, PutTextCopiesEveryLengthExactly) {
  std::string source;
  for (int i = 0; i < 40; ++i) source += static_cast<char>('a' + i % 26);
  for (size_t size = 0; size <= source.size(); ++size) {
    std::string out(size + 8, '#');
    char* end = put_text(out.data() + 4, std::string_view(source).substr(0, size));
    EXPECT_EQ(end, out.data() + 4 + size) << size;
    EXPECT_EQ(out, "####" + source.substr(0, size) + "####") << size;
  }
}

}  // namespace
}  // namespace orvane
