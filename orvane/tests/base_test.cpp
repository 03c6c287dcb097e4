#include <gtest/gtest.h>

#include "base/json.h"
#include "base/quote.h"

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

}  // namespace
}  // namespace orvane
