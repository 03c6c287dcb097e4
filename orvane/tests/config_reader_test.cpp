#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "config/config_reader.h"

namespace orvane {
namespace {

using namespace std::string_view_literals;

std::string error_text(std::string_view json) {
  Result<ExperimentConfig, JsonError> read = read_experiment_config(json);
  if (read) return "no error";
  return read.error().display();
}

constexpr std::string_view kRecordFields =
    R"("id":1,"name":"n","enabled":true,"version":"1","owner":"o","type":"range_variant")";

// A document of `count` valid records, one per line, followed by a record whose id is -1.
std::string long_document(size_t count) {
  std::string doc = "{\n";
  for (size_t i = 0; i < count; ++i) {
    doc += "\"r" + std::to_string(i) + "\":{" + std::string(kRecordFields) +
           R"(,"experiment":{"experiment_version":1}},)" + "\n";
  }
  doc += R"("bad":{"id":-1})";
  doc += "\n}";
  return doc;
}

// A record whose `value` nests `depth` arrays; with the top-level map and the record
// around it the document is depth + 2 levels deep.
std::string nested_value(size_t depth, size_t& last_bracket_column) {
  std::string doc = "{\"a\":{" + std::string(kRecordFields) + ",\"value\":";
  last_bracket_column = doc.size() + depth;
  doc += std::string(depth, '[') + std::string(depth, ']');
  doc += R"(,"experiment":{"experiment_version":1}}})";
  return doc;
}

TEST(ConfigReader, ErrorMessages) {
  struct Case {
    const char* name;
    std::string_view json;
    const char* error;
  };
  const Case kCases[] = {
      {"empty input", ""sv,
       "EOF while parsing a value at line 1 column 0"},
      {"blank input", "  \n "sv,
       "EOF while parsing a value at line 2 column 1"},
      {"top-level array", "[]"sv,
       "invalid type: sequence, expected a map at line 1 column 1"},
      {"top-level string", "\"x\""sv,
       "invalid type: string \"x\", expected a map at line 1 column 3"},
      {"top-level null", "null"sv,
       "invalid type: null, expected a map at line 1 column 4"},
      {"trailing characters", "{} x"sv,
       "trailing characters at line 1 column 4"},
      {"trailing characters on a later line", "{}\n\n  ]"sv,
       "trailing characters at line 3 column 3"},
      {"trailing characters after a run of blank lines", "{}\n\n\n\n\n\n\n\n  ]"sv,
       "trailing characters at line 9 column 3"},
      {"trailing NUL", "{}\x00"""sv,
       "trailing characters at line 1 column 3"},
      {"byte order mark", "\xef""\xbb""\xbf""{}"sv,
       "expected value at line 1 column 1"},
      {"EOF in object", "{\"a\""sv,
       "EOF while parsing an object at line 1 column 4"},
      {"EOF after colon", "{\"a\":"sv,
       "EOF while parsing a value at line 1 column 5"},
      {"EOF in list", "{\"a\":[1"sv,
       "EOF while parsing a list at line 1 column 7"},
      {"EOF after comma in list", "{\"a\":[1,"sv,
       "EOF while parsing a value at line 1 column 8"},
      {"EOF in string", "{\"a\":\"ab"sv,
       "EOF while parsing a string at line 1 column 8"},
      {"number glued to a number", "{\"a\":{\"b\":0-1}}"sv,
       "expected `,` or `}` at line 1 column 12"},
      {"word glued to null", "{\"a\":{\"x\":[null1]}}"sv,
       "expected `,` or `]` at line 1 column 16"},
      {"exponent beyond 32 bits", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"start_ts\":1e99999999999,\"experiment\":{\"experiment_version\":1}}}"sv,
       "number out of range at line 1 column 111"},
      {"expected colon", "{\"a\" 1}"sv,
       "expected `:` at line 1 column 6"},
      {"expected comma or brace", "{\"a\":{\"b\":1 \"c\":2}}"sv,
       "expected `,` or `}` at line 1 column 13"},
      {"expected comma or bracket", "{\"a\":[1 2]}"sv,
       "expected `,` or `]` at line 1 column 9"},
      {"expected value", "{\"a\":x}"sv,
       "expected value at line 1 column 6"},
      {"expected ident", "{\"a\":tru}"sv,
       "expected ident at line 1 column 9"},
      {"trailing comma in object", "{\"a\":{\"b\":1,}}"sv,
       "trailing comma at line 1 column 13"},
      {"trailing comma in list", "{\"a\":[1,]}"sv,
       "trailing comma at line 1 column 9"},
      {"key must be a string", "{\"a\":{1:2}}"sv,
       "key must be a string at line 1 column 7"},
      {"invalid number", "{\"a\":1.x}"sv,
       "invalid number at line 1 column 8"},
      {"leading zero", "{\"a\":01}"sv,
       "invalid number at line 1 column 7"},
      {"number out of range", "{\"a\":1e400}"sv,
       "number out of range at line 1 column 11"},
      {"invalid escape", "{\"a\":\"\\x\"}"sv,
       "invalid escape at line 1 column 8"},
      {"short unicode escape", "{\"a\":\"\\u12x4\"}"sv,
       "invalid escape at line 1 column 11"},
      {"lone trailing surrogate", "{\"a\":\"\\uDC00\"}"sv,
       "lone leading surrogate in hex escape at line 1 column 12"},
      {"unpaired leading surrogate", "{\"a\":\"\\uD800x\"}"sv,
       "unexpected end of hex escape at line 1 column 13"},
      {"control character", "{\"a\":\"a\nb\"}"sv,
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"invalid UTF-8 in a string", "{\"a\":{\"name\":\"\xff""\"}}"sv,
       "invalid unicode code point at line 1 column 16"},
      {"invalid UTF-8 then a bad escape", "{\"a\":{\"name\":\"\xff""\\x\"}}"sv,
       "invalid escape at line 1 column 17"},
      {"truncated UTF-8 sequence", "{\"a\":{\"name\":\"\xe2""\x82""\"}}"sv,
       "invalid unicode code point at line 1 column 17"},
      {"id negative", "{\"a\":{\"id\":-1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid value: integer `-1`, expected u32 at line 1 column 14"},
      {"id above u32", "{\"a\":{\"id\":4294967296,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid value: integer `4294967296`, expected u32 at line 1 column 22"},
      {"id with fraction", "{\"a\":{\"id\":1.0,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: floating point `1.0`, expected u32 at line 1 column 15"},
      {"id with exponent", "{\"a\":{\"id\":1e20,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: floating point `1e20`, expected u32 at line 1 column 16"},
      {"id beyond u64", "{\"a\":{\"id\":18446744073709551616,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: floating point `1.8446744073709552e19`, expected u32 at line 1 column 32"},
      {"id minus zero", "{\"a\":{\"id\":-0,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: floating point `-0.0`, expected u32 at line 1 column 14"},
      {"id as string", "{\"a\":{\"id\":\"1\",\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: string \"1\", expected u32 at line 1 column 14"},
      {"id null", "{\"a\":{\"id\":null,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: null, expected u32 at line 1 column 15"},
      {"id as object", "{\"a\":{\"id\":{},\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: map, expected u32 at line 1 column 12"},
      {"stop_ts negative", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"stop_ts\":-1,\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid value: integer `-1`, expected u64 at line 1 column 101"},
      {"start_ts null", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"start_ts\":null,\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: null, expected u64 at line 1 column 103"},
      {"emit_event null", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"emit_event\":null,\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: null, expected a boolean at line 1 column 105"},
      {"shuffle_version null", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"shuffle_version\":null}}}"sv,
       "invalid type: null, expected u32 at line 1 column 147"},
      {"variants null", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"variants\":null}}}"sv,
       "invalid type: null, expected a sequence at line 1 column 140"},
      {"version as number", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":1,\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: integer `1`, expected a string at line 1 column 51"},
      {"name as integer", "{\"a\":{\"id\":1,\"name\":1,\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: integer `1`, expected a string at line 1 column 22"},
      {"range_start as string", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"variants\":[{\"name\":\"v\",\"range_start\":\"0\",\"range_end\":1}]}}}"sv,
       "invalid type: string \"0\", expected f32 at line 1 column 166"},
      {"missing name before owner", "{\"a\":{\"id\":1,\"enabled\":true,\"version\":\"1\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "missing field `name` at line 1 column 103"},
      {"missing experiment_version", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{}}}"sv,
       "missing field `experiment_version` at line 1 column 103"},
      {"missing range_end", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"variants\":[{\"name\":\"v\",\"range_start\":1}]}}}"sv,
       "missing field `range_end` at line 1 column 165"},
      {"duplicate id", "{\"a\":{\"id\":1,\"id\":2}}"sv,
       "duplicate field `id` at line 1 column 18"},
      {"duplicate field before a blank", "{\"a\":{\"id\":1,\"id\"\n  :2}}"sv,
       "duplicate field `id` at line 2 column 3"},
      {"unknown type", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"experiment\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "unknown variant `experiment`, expected one of `dynamic_config`, `range_variant`, `feature_rollout` at line 1 column 84"},
      {"type in other case", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"Range_Variant\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "unknown variant `Range_Variant`, expected one of `dynamic_config`, `range_variant`, `feature_rollout` at line 1 column 87"},
      {"type as number", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":5,\"experiment\":{\"experiment_version\":1}}}"sv,
       "expected value at line 1 column 73"},
      {"type null", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":null,\"experiment\":{\"experiment_version\":1}}}"sv,
       "expected value at line 1 column 73"},
      {"type one-member with value", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":{\"range_variant\":1},\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: integer `1`, expected unit at line 1 column 91"},
      {"type one-member empty", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":{},\"experiment\":{\"experiment_version\":1}}}"sv,
       "expected value at line 1 column 74"},
      {"type one-member twice", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":{\"range_variant\":null,\"x\":null},\"experiment\":{\"experiment_version\":1}}}"sv,
       "expected value at line 1 column 94"},
      {"type one-member unknown", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":{\"nope\":null},\"experiment\":{\"experiment_version\":1}}}"sv,
       "unknown variant `nope`, expected one of `dynamic_config`, `range_variant`, `feature_rollout` at line 1 column 79"},
      {"type one-member integer key", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":{1:null},\"experiment\":{\"experiment_version\":1}}}"sv,
       "invalid type: integer `1`, expected variant identifier at line 1 column 75"},
      {"unknown value_type", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"value_type\":\"text\",\"experiment\":{\"experiment_version\":1}}}"sv,
       "unknown variant `text`, expected one of `Boolean`, `Integer`, `Float`, `String`, `Text`, `Map` at line 1 column 107"},
      {"value_type as array", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"value_type\":[],\"experiment\":{\"experiment_version\":1}}}"sv,
       "expected value at line 1 column 102"},
      {"inner array too short", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":[1]}}"sv,
       "invalid length 1, expected struct InnerExperiment with 6 elements at line 1 column 104"},
      {"inner array too long", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":[1,[],0,null,null,null,7]}}"sv,
       "trailing characters at line 1 column 125"},
      {"inner array trailing comma", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":[1,[],0,null,null,null,]}}"sv,
       "trailing comma at line 1 column 125"},
      {"variant array too short", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"variants\":[[\"v\",1]]}}}"sv,
       "invalid length 2, expected struct Variant with 3 elements at line 1 column 144"},
      {"experiment array stops before type", "{\"a\":[1,\"n\",true,\"1\",\"o\"]}"sv,
       "invalid length 5, expected struct Experiment with 14 elements at line 1 column 25"},
      {"experiment as string", "{\"a\":\"x\"}"sv,
       "invalid type: string \"x\", expected struct Experiment at line 1 column 8"},
      {"inner as integer", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":5}}"sv,
       "invalid type: integer `5`, expected struct InnerExperiment at line 1 column 103"},
      {"variant as integer", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"variants\":[5]}}}"sv,
       "invalid type: integer `5`, expected struct Variant at line 1 column 139"},
      {"overrides as object", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"overrides\":{}}}}"sv,
       "invalid type: map, expected a sequence at line 1 column 138"},
      {"overrides entry as array", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"overrides\":[[]]}}}"sv,
       "invalid type: sequence, expected a map at line 1 column 139"},
      {"tree with two operators", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"ALL\":[], \"ANY\":[]}}}}"sv,
       "expected value at line 1 column 147"},
      {"tree operator in lower case", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"all\":[]}}}}"sv,
       "unknown variant `all`, expected one of `ALL`, `ANY`, `NOT`, `EQ`, `NE`, `GT`, `LT`, `GE`, `LE` at line 1 column 143"},
      {"tree as bare ALL", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":\"ALL\"}}}"sv,
       "invalid type: unit variant, expected newtype variant at line 1 column 143"},
      {"tree as bare GT", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":\"GT\" }}}"sv,
       "invalid type: unit variant, expected struct variant at line 1 column 143"},
      {"tree as unknown string", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":\"XY\"}}}"sv,
       "unknown variant `XY`, expected one of `ALL`, `ANY`, `NOT`, `EQ`, `NE`, `GT`, `LT`, `GE`, `LE` at line 1 column 141"},
      {"tree as number", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":5}}}"sv,
       "expected value at line 1 column 138"},
      {"tree as array", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":[]}}}"sv,
       "expected value at line 1 column 138"},
      {"tree empty object", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{}}}}"sv,
       "expected value at line 1 column 139"},
      {"NOT holding an array", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"NOT\":[]}}}}"sv,
       "expected value at line 1 column 145"},
      {"ALL holding null", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"ALL\":null}}}}"sv,
       "invalid type: null, expected a sequence at line 1 column 148"},
      {"NE holding a number", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"NE\":5}}}}"sv,
       "invalid type: integer `5`, expected struct variant TargetingTree::NE at line 1 column 145"},
      {"GT value as string", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"GT\":{\"field\":\"a\",\"value\":\"3\"}}}}}"sv,
       "invalid type: string \"3\", expected f64 at line 1 column 167"},
      {"GT without value", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"GT\":{\"field\":\"a\"}}}}}"sv,
       "missing field `value` at line 1 column 156"},
      {"GT without field", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"GT\":{\"value\":1}}}}}"sv,
       "missing field `field` at line 1 column 154"},
      {"GT field twice", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"GT\":{\"field\":\"a\",\"field\":\"b\",\"value\":1}}}}}"sv,
       "duplicate field `field` at line 1 column 164"},
      {"GT array too short", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"GT\":[\"a\"]}}}}"sv,
       "invalid length 1, expected struct variant TargetingTree::GT with 2 elements at line 1 column 148"},
      {"GT array too long", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"GT\":[\"a\",1,2]}}}}"sv,
       "trailing characters at line 1 column 151"},
      {"LE field as number", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"LE\":{\"field\":5,\"value\":1}}}}}"sv,
       "invalid type: integer `5`, expected a string at line 1 column 154"},
      {"EQ without value", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"EQ\":{\"field\":\"user_id\"}}}}}"sv,
       "data did not match any variant of untagged enum EqEnum at line 1 column 163"},
      {"EQ field not a string", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"EQ\":{\"field\":1,\"value\":1}}}}}"sv,
       "data did not match any variant of untagged enum EqEnum at line 1 column 165"},
      {"EQ field twice", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"EQ\":{\"field\":\"a\",\"field\":\"a\",\"value\":1}}}}}"sv,
       "data did not match any variant of untagged enum EqEnum at line 1 column 179"},
      {"EQ scalar", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"EQ\":5 }}}}"sv,
       "data did not match any variant of untagged enum EqEnum at line 1 column 146"},
      {"EQ short array", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"EQ\":[\"a\"]}}}}"sv,
       "data did not match any variant of untagged enum EqEnum at line 1 column 149"},
      {"EQ inside ALL", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"ALL\":[{\"EQ\":{\"x\":1}}\n]}}}}"sv,
       "data did not match any variant of untagged enum EqEnum at line 1 column 159"},
      {"tree comma after member", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"ALL\":[],}}}}"sv,
       "expected value at line 1 column 147"},
      {"tree junk after member", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"targeting\":{\"ALL\":[] x}}}}"sv,
       "expected value at line 1 column 148"},
      {"override tree as number", "{\"a\":{\"id\":1,\"name\":\"n\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\",\"experiment\":{\"experiment_version\":1,\"overrides\":[{\"v\":5}]}}}"sv,
       "expected value at line 1 column 144"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_text(c.json), c.error);
  }
}

TEST(ConfigReader, ErrorOnALaterLineOfALongDocument) {
  std::string doc = long_document(200);
  ASSERT_GT(doc.size(), 2 * 8192u);
  // Line 1 is "{", lines 2 to 201 hold the records, line 202 the bad one.
  EXPECT_EQ(error_text(doc), "invalid value: integer `-1`, expected u32 at line 202 column 15");
}

TEST(ConfigReader, NestingLimit) {
  size_t column = 0;
  std::string deepest_allowed = nested_value(126, column);
  EXPECT_EQ(error_text(deepest_allowed), "no error");
  std::string too_deep = nested_value(127, column);
  EXPECT_EQ(error_text(too_deep),
            "recursion limit exceeded at line 1 column " + std::to_string(column));
}

TEST(ConfigReader, ReadsThroughAFileDescriptor) {
  std::string doc = long_document(120);
  doc.replace(doc.find(R"("bad":{"id":-1})"), 15, R"("last":{)" + std::string(kRecordFields) +
                                                       R"(,"experiment":{"experiment_version":9}})");
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(doc.data(), 1, doc.size(), file), doc.size());
  std::fflush(file);
  std::rewind(file);
  Result<ExperimentConfig, JsonError> read = read_experiment_config_fd(fileno(file));
  std::fclose(file);
  ASSERT_TRUE(read.has_value()) << read.error().display();
  ASSERT_EQ(read->size(), 121u);
  EXPECT_EQ(read->front().first, "r0");
  EXPECT_EQ(read->back().first, "last");
  EXPECT_EQ(read->back().second.experiment.experiment_version, 9u);
}

TEST(ConfigReader, MessagesInALargeFileStandWhereTheyDoInTheText) {
  // The pages of a file's text are given back as the reader passes them, megabytes at a
  // time; a message after that point still names the line and column of the whole text,
  // whether its line began before that point or after it.
  std::string lines = long_document(100000);
  std::string one_line = lines;
  std::replace(one_line.begin(), one_line.end(), '\n', ' ');
  ASSERT_GT(lines.size(), 3u * (4u << 20));
  const std::pair<const std::string*, std::string> kCases[] = {
      {&lines, "invalid value: integer `-1`, expected u32 at line 100002 column 15"},
      {&one_line, "invalid value: integer `-1`, expected u32 at line 1 column " +
                      std::to_string(one_line.size() - 2)},
  };
  for (const auto& [doc, expected] : kCases) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(doc->data(), 1, doc->size(), file), doc->size());
    std::fflush(file);
    std::rewind(file);
    Result<ExperimentConfig, JsonError> read = read_experiment_config_fd(fileno(file));
    std::fclose(file);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().display(), expected);
    EXPECT_EQ(error_text(*doc), expected);
  }
}

TEST(ConfigReader, ReadsThroughAPipe) {
  // A pipe has no size to read up front, so the reader grows its buffer as bytes come;
  // a document several times its first 64 KiB must read as the same text does.
  std::string bad = long_document(3000);
  std::string good = bad;
  good.replace(good.find(R"("bad":{"id":-1})"), 15, R"("last":{)" + std::string(kRecordFields) +
                                                         R"(,"experiment":{"experiment_version":9}})");
  ASSERT_GT(good.size(), 3u * 65536u);
  for (const std::string* doc : {&good, &bad}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
      size_t done = 0;
      while (done < doc->size()) {
        ssize_t wrote = ::write(fds[1], doc->data() + done, doc->size() - done);
        if (wrote <= 0) break;
        done += static_cast<size_t>(wrote);
      }
      ::close(fds[1]);
    });
    Result<ExperimentConfig, JsonError> piped = read_experiment_config_fd(fds[0]);
    writer.join();
    ::close(fds[0]);
    Result<ExperimentConfig, JsonError> direct = read_experiment_config(*doc);
    ASSERT_EQ(piped.has_value(), direct.has_value());
    if (!direct) {
      EXPECT_EQ(piped.error().display(), direct.error().display());
      EXPECT_EQ(direct.error().line, 3002u);
      continue;
    }
    ASSERT_EQ(piped->size(), 3001u);
    EXPECT_EQ(piped->back().first, "last");
    EXPECT_EQ(piped->back().second.experiment.experiment_version, 9u);
  }
}

TEST(ConfigReader, ReadFailureOfTheDescriptor) {
  int fd = ::open(ORVANE_TESTDATA_DIR, O_RDONLY);
  ASSERT_GE(fd, 0);
  Result<ExperimentConfig, JsonError> read = read_experiment_config_fd(fd);
  ::close(fd);
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().display(), "Is a directory (os error 21)");
  EXPECT_EQ(read.error().line, 0u);
}

}  // namespace
}  // namespace orvane
