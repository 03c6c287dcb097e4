// Hostile configuration files and requests, all through real files and the loader: trees at
// the reader's nesting limit, long parent chains, a very large file, broken UTF-8, names full
// of quoting and separator characters, and integers at every range boundary.

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/json.h"
#include "engine/loader.h"
#include "engine/orvane.h"
#include "temp_files.h"

namespace orvane {
namespace {

using namespace std::string_literals;
using OrderedJson = nlohmann::ordered_json;

// ---------------------------------------------------------------------------------------
// Shared helpers

class HostileInput : public testing::TempFilesTest {
 protected:
  Result<Orvane, OrvaneInitError> load(std::string_view stages, const std::string& text) {
    return init_orvane(stages, write("config.json", text));
  }
};

std::string load_text(const Result<Orvane, OrvaneInitError>& engine) {
  return engine ? std::string("loaded") : engine.error().display();
}

std::string repeat(std::string_view piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The ten values of an exposure event's compact text, joined as the text joins them.
std::string compact(int kind, uint64_t id, std::string_view name, uint64_t version,
                    std::string_view variant, std::string_view identifier,
                    std::string_view field, uint64_t start, uint64_t stop,
                    std::string_view owner) {
  std::string out = std::to_string(kind) + "::::" + std::to_string(id) + "::::";
  out += name;
  out += "::::" + std::to_string(version) + "::::";
  out += variant;
  out += "::::";
  out += identifier;
  out += "::::";
  out += field;
  out += "::::" + std::to_string(start) + "::::" + std::to_string(stop) + "::::";
  out += owner;
  return out;
}

// name#id.version variant value value_type, then " | " and each compact event text.
std::string decision_line(const DecideResult& result) {
  if (!result) return "error: " + result.error().display();
  if (!*result) return "no decision";
  const Decision& d = **result;
  std::string out = d.feature_name + "#" + std::to_string(d.feature_id) + "." +
                    std::to_string(d.feature_version) + " " + d.variant_name.value_or("-") + " " +
                    json_compact(d.value) + " " +
                    (d.value_type ? std::string(value_type_text(*d.value_type)) : "-");
  for (const std::string& text : d.events.texts()) out += " | " + text;
  return out;
}

// The line of the entry choose_all gave `name`; "missing" when it gave none.
std::string entry_line(const AllDecisions& all, std::string_view name) {
  const DecideResult* result = all.find(name);
  return result ? decision_line(*result) : "missing";
}

std::string variant_or_dash(const DecideResult& result) {
  if (!result) return "error: " + result.error().display();
  if (!*result) return "-";
  return (*result)->variant_name.value_or("(none)");
}

Context user_ctx(std::string user_id) {
  Context ctx;
  ctx.user_id = std::move(user_id);
  return ctx;
}

// Line and column (1-based, counted in bytes) of the bracket that opens nesting level
// `level`; {0, 0} when the text never gets that deep. Strings are skipped with their escapes.
std::pair<size_t, size_t> opening_of_level(std::string_view text, size_t level) {
  size_t depth = 0;
  size_t line = 1;
  size_t line_start = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\n') {
      ++line;
      line_start = i + 1;
    }
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth == level) return {line, i - line_start + 1};
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return {0, 0};
}

size_t max_depth(std::string_view text) {
  size_t level = 1;
  while (opening_of_level(text, level).first != 0) ++level;
  return level - 1;
}

// Index of the quote that closes the string in which `inside` lies.
size_t closing_quote(std::string_view text, size_t inside) {
  for (size_t i = inside; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i;
    }
  }
  return std::string::npos;
}

// Line and 1-based column of byte `index` of a text.
std::pair<size_t, size_t> position_of(std::string_view text, size_t index) {
  size_t line = 1;
  size_t line_start = 0;
  for (size_t i = 0; i < index; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return {line, index - line_start + 1};
}

std::string at_text(std::pair<size_t, size_t> position) {
  return " at line " + std::to_string(position.first) + " column " +
         std::to_string(position.second);
}

// ---------------------------------------------------------------------------------------
// Nesting at the reader's limit of 128 levels. The document's own containers count: the
// top object (1), the record (2) and the inner record (3), so a targeting tree has 125
// levels left and an override tree, below the overrides array and its map, 123.

std::string nots(size_t n, const std::string& leaf) {
  return repeat("{\"NOT\":", n) + leaf + repeat("}", n);
}

std::string lists(const char* op, size_t n, const std::string& leaf) {
  return repeat(std::string("{\"") + op + "\":[", n) + leaf + repeat("]}", n);
}

const std::string kEqU1 = R"({"EQ":{"field":"user_id","value":"u1"}})";            // 2 levels
const std::string kEqManyU1 = R"({"EQ":{"field":"user_id","values":["u1"]}})";      // 3 levels
const std::string kNotGt5 = R"({"NOT":{"GT":["build_number",5]}})";                 // 3 levels

std::string ne_deep_or_u2(size_t arrays) {
  // ANY (2) around NE (2) whose value is `arrays` nested arrays.
  return R"({"ANY":[{"NE":{"field":"user_id","value":)" + repeat("[", arrays) +
         repeat("]", arrays) + R"(}},{"EQ":{"field":"user_id","value":"u2"}}]})";
}

std::string deep_document(const std::string& member) {
  return "{\"deep\": {\"id\": 7, \"name\": \"deep\", \"enabled\": true, \"version\": \"1\",\n"
         " \"owner\": \"o\", \"type\": \"range_variant\", \"emit_event\": false,\n"
         " \"experiment\": {\"experiment_version\": 1, \"bucket_val\": \"device_id\",\n"
         "  \"variants\": [{\"name\": \"in\", \"range_start\": 0, \"range_end\": 1}],\n"
         "  " + member + "}}}\n";
}

TEST_F(HostileInput, TreesAtTheNestingLimitLoadAndDecide) {
  struct Case {
    const char* name;
    bool overrides;
    std::string at_limit;
    std::string one_more;
    // The variant decided for u1 (build 3), u2 (build 9) and a request with neither.
    const char* decided;
  };
  const Case kCases[] = {
      {"NOT chain", false, nots(123, kEqU1), nots(124, kEqU1), "- in -"},
      {"ALL chain", false, lists("ALL", 61, nots(1, kEqU1)), lists("ALL", 61, nots(2, kEqU1)),
       "- in -"},
      {"ANY chain", false, lists("ANY", 61, nots(1, kEqU1)), lists("ANY", 61, nots(1, kEqManyU1)),
       "- in -"},
      {"EQ with values at the bottom", false, nots(122, kEqManyU1), nots(123, kEqManyU1),
       "in - -"},
      {"comparison in array form", false, lists("ALL", 61, kNotGt5),
       lists("ALL", 61, nots(1, kNotGt5)), "in - -"},
      {"NE value nested to the limit", false, ne_deep_or_u2(121), ne_deep_or_u2(122),
       "- in -"},
      {"override tree", true, nots(121, kEqU1), nots(122, kEqU1), "in forced in"},
  };
  Context u1 = user_ctx("u1");
  u1.device_id = "d";
  u1.build_number = 3;
  Context u2 = user_ctx("u2");
  u2.device_id = "d";
  u2.build_number = 9;
  Context nobody;
  nobody.device_id = "d";

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto member = [&](const std::string& tree) {
      return c.overrides ? "\"overrides\": [{\"forced\": " + tree + "}]"
                         : "\"targeting\": " + tree;
    };
    std::string at_limit = deep_document(member(c.at_limit));
    std::string one_more = deep_document(member(c.one_more));
    // The documents themselves are what the case claims.
    ASSERT_EQ(max_depth(at_limit), 128u);
    ASSERT_EQ(max_depth(one_more), 129u);

    auto engine = load("targeting overrides fractional_availability", at_limit);
    ASSERT_TRUE(engine) << engine.error().display();
    std::string decided = variant_or_dash(choose(*engine, "deep", u1, std::nullopt)) + " " +
                          variant_or_dash(choose(*engine, "deep", u2, std::nullopt)) + " " +
                          variant_or_dash(choose(*engine, "deep", nobody, std::nullopt));
    EXPECT_EQ(decided, c.decided);

    EXPECT_EQ(load_text(load("targeting", one_more)),
              "Json error: \"recursion limit exceeded" + at_text(opening_of_level(one_more, 129)) +
                  "\"");
  }
}

TEST_F(HostileInput, ValuesAtTheNestingLimit) {
  // The same limit holds for a configured value and for a skipped member.
  struct Case {
    const char* name;
    std::string member;  // at the record's level: two levels used above it
  };
  const Case kCases[] = {
      {"value array", "\"value\": " + repeat("[", 126) + repeat("]", 126)},
      {"value objects", "\"value\": " + repeat("{\"a\":", 126) + "1" + repeat("}", 126)},
      {"skipped member", "\"notes\": " + repeat("[{\"x\":", 63) + "0" + repeat("}]", 63)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto document = [&](const std::string& member) {
      return "{\"k\": {\"id\": 1, \"name\": \"f\", \"enabled\": true, \"version\": \"1\",\n"
             "  \"owner\": \"o\", \"type\": \"dynamic_config\", " + member +
             ",\n  \"experiment\": {\"experiment_version\": 1}}}";
    };
    std::string at_limit = document(c.member);
    // One more level: wrap the member's value in one more array.
    std::string deeper = c.member;
    size_t colon = deeper.find(": ");
    deeper = deeper.substr(0, colon + 2) + "[" + deeper.substr(colon + 2) + "]";
    std::string one_more = document(deeper);
    ASSERT_EQ(max_depth(at_limit), 128u);
    ASSERT_EQ(max_depth(one_more), 129u);
    EXPECT_EQ(load_text(load("value", at_limit)), "loaded");
    EXPECT_EQ(load_text(load("value", one_more)),
              "Json error: \"recursion limit exceeded" + at_text(opening_of_level(one_more, 129)) +
                  "\"");
  }
}

// ---------------------------------------------------------------------------------------
// Holdout and mutex chains 100 records deep, read from a file.

constexpr int kChain = 100;

std::string chain_record(const std::string& key, const std::string& name, uint32_t id,
                         int version, const std::string& variant, const std::string& parent_key,
                         const char* parent_member, const std::string& value) {
  std::string out = "\"" + key + "\": {\"id\": " + std::to_string(id) + ", \"name\": \"" + name +
                    "\", \"enabled\": true, \"version\": \"1\", \"owner\": \"own" +
                    std::to_string(version) + "\", \"type\": \"range_variant\", " +
                    "\"emit_event\": true, \"start_ts\": " + std::to_string(version) +
                    ", \"stop_ts\": " + std::to_string(1000 + version);
  if (!parent_key.empty()) out += ", \"" + std::string(parent_member) + "\": \"" + parent_key + "\"";
  if (!value.empty()) out += ", \"value\": " + value + ", \"value_type\": \"Integer\"";
  out += ", \"experiment\": {\"experiment_version\": " + std::to_string(version) +
         ", \"bucket_val\": \"user_id\", \"variants\": [{\"name\": \"" + variant +
         "\", \"range_start\": 0, \"range_end\": 1}]}}";
  return out;
}

// Records hg_0 .. hg_99 named h0 .. h99; each names the next as its holdout group. Every
// record buckets everyone into control_1, except h99, which buckets into `deepest`.
std::string holdout_chain(const std::string& deepest) {
  std::string doc = "{\n";
  for (int i = kChain - 1; i >= 0; --i) {
    bool last = i == kChain - 1;
    doc += chain_record("hg_" + std::to_string(i), "h" + std::to_string(i),
                        static_cast<uint32_t>(1000 + i), i, last ? deepest : "control_1",
                        last ? "" : "hg_" + std::to_string(i + 1), "parent_hg_name",
                        last ? "99" : "");
    doc += i > 0 ? ",\n" : "\n}\n";
  }
  return doc;
}

// The compact text of record i of a chain: ids from `base`, owner and timestamps from i.
std::string chain_event(int kind, int i, const char* prefix, uint32_t base,
                        const std::string& variant) {
  return compact(kind, base + static_cast<uint32_t>(i), prefix + std::to_string(i),
                 static_cast<uint64_t>(i), variant, "u1", "user_id", static_cast<uint64_t>(i),
                 static_cast<uint64_t>(1000 + i), "own" + std::to_string(i));
}

// The decision for chain record `top` whose events run from record `first` down to `top`:
// the first marked with `first_kind`, the others bucketing events.
std::string chain_decision(const char* prefix, uint32_t base, int top, int first,
                           int first_kind, const std::string& variant_of_first,
                           const std::string& variant, auto variant_of) {
  std::string out = prefix + std::to_string(top) + "#" + std::to_string(base + top) + "." +
                    std::to_string(top) + " " + variant + " null -";
  for (int i = first; i >= top; --i) {
    out += " | " + chain_event(i == first ? first_kind : 0, i, prefix, base,
                               i == first ? variant_of_first : variant_of(i));
  }
  return out;
}

TEST_F(HostileInput, HoldoutChainHundredDeepFromAFile) {
  auto control = [](int) { return std::string("control_1"); };
  struct Case {
    const char* name;
    std::string deepest;  // the variant h99 buckets everyone into
    std::string lookup;
    std::string decision;
  };
  const Case kCases[] = {
      // Every level is control: each passes its group's events on and adds its own.
      {"all control", "control_1", "h0",
       chain_decision("h", 1000, 0, 99, 2, "control_1", "control_1", control)},
      {"all control, one level up", "control_1", "h98",
       chain_decision("h", 1000, 98, 99, 2, "control_1", "control_1", control)},
      // h98 is held out: decided without variant, with h99's value and event. h97 sees no
      // variant and buckets on its own, and from there on everything is control again.
      {"held out at the bottom", "holdout", "h98",
       "h98#1098.98 - 99 Integer | " + chain_event(2, 99, "h", 1000, "holdout")},
      {"held out at the bottom, seen from the top", "holdout", "h0",
       chain_decision("h", 1000, 0, 97, 2, "control_1", "control_1", control)},
      // Any other variant at the bottom is no holdout: its event is dropped.
      {"other variant at the bottom", "Holdout", "h98",
       "h98#1098.98 control_1 null - | " + chain_event(0, 98, "h", 1000, "control_1")},
      {"other variant, seen from the top", "Holdout", "h0",
       chain_decision("h", 1000, 0, 98, 2, "control_1", "control_1", control)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto engine = load("holdout fractional_availability", holdout_chain(c.deepest));
    ASSERT_TRUE(engine) << engine.error().display();
    ASSERT_EQ(engine->features().size(), static_cast<size_t>(kChain));
    DecideResult result = choose(*engine, c.lookup, user_ctx("u1"), std::nullopt);
    EXPECT_EQ(decision_line(result), c.decision);
    if (result && *result) {
      // Every compact text has its encoded twin, kind for kind.
      const Decision& d = **result;
      const std::vector<std::string> texts = d.events.texts();
      const std::vector<Event> documents = d.events.documents();
      ASSERT_EQ(documents.size(), texts.size());
      for (size_t i = 0; i < documents.size(); ++i) {
        EXPECT_EQ(std::to_string(static_cast<int>(documents[i].kind)), texts[i].substr(0, 1));
        Json parsed = Json::parse(documents[i].json);
        EXPECT_EQ(parsed["129"]["rec"]["10"]["tf"], 0);
      }
    }
  }
}

// Records mx_0 .. mx_99 named m0 .. m99; each names the next as its mutex group, and each
// group assigns everyone to the record below it (m_i buckets into m_(i-1)), except that
// the record `broken` buckets into "elsewhere".
std::string mutex_chain(int broken) {
  std::string doc = "{\n";
  for (int i = 0; i < kChain; ++i) {
    std::string variant = i == broken ? "elsewhere" : i == 0 ? "top" : "m" + std::to_string(i - 1);
    doc += chain_record("mx_" + std::to_string(i), "m" + std::to_string(i),
                        static_cast<uint32_t>(2000 + i), i, variant,
                        i == kChain - 1 ? "" : "mx_" + std::to_string(i + 1), "parent_meg_name",
                        "");
    doc += i + 1 < kChain ? ",\n" : "\n}\n";
  }
  return doc;
}

TEST_F(HostileInput, MutexChainHundredDeepFromAFile) {
  auto member_of = [](int broken) {
    return [broken](int i) {
      return i == broken ? std::string("elsewhere") : i == 0 ? std::string("top")
                                                             : "m" + std::to_string(i - 1);
    };
  };
  struct Case {
    const char* name;
    int broken;
    std::string lookup;
    std::string decision;
  };
  const Case kCases[] = {
      {"whole chain", -1, "m0",
       chain_decision("m", 2000, 0, 99, 3, "m98", "top", member_of(-1))},
      {"whole chain from the middle", -1, "m50",
       chain_decision("m", 2000, 50, 99, 3, "m98", "m49", member_of(-1))},
      {"deepest alone", -1, "m99", "m99#2099.99 m98 null - | " + chain_event(0, 99, "m", 2000, "m98")},
      // m50 assigns everyone elsewhere: m49 and every record above it get nothing.
      {"broken in the middle", 50, "m0", "no decision"},
      {"just above the break", 50, "m49", "no decision"},
      {"the break itself", 50, "m50",
       chain_decision("m", 2000, 50, 99, 3, "m98", "elsewhere", member_of(50))},
      {"broken at the bottom", 99, "m98", "no decision"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto engine = load("mutex_group fractional_availability", mutex_chain(c.broken));
    ASSERT_TRUE(engine) << engine.error().display();
    EXPECT_EQ(decision_line(choose(*engine, c.lookup, user_ctx("u1"), std::nullopt)), c.decision);
  }
}

// ---------------------------------------------------------------------------------------
// A configuration of about 50 MB.

const char* const kCountries =
    R"("US","CA","MX","BR","AR","GB","IE","FR","DE","NL","BE","ES","PT","IT","CH","AT","PL",)"
    R"("CZ","SE","NO","DK","FI","JP","KR","IN","AU","NZ","ZA","NG","EG")";

std::string large_record(size_t i) {
  std::string n = std::to_string(i);
  std::string owner = "team-" + std::to_string(i % 97);
  std::string record = "\"k" + n + "\":{\"id\":" + n + ",\"name\":\"feature_" + n +
                       "\",\"enabled\":true,\"version\":\"v" + n + "\",\"owner\":\"" + owner + "\",";
  if (i % 10 == 9) {
    record += "\"type\":\"dynamic_config\",\"value\":{\"limit\":" + n +
              ",\"label\":\"cfg \\u00e4 " + n + "\",\"tiers\":[1,2.5,-3,1e3,true,null]},"
              "\"value_type\":\"Map\",";
  } else {
    record += "\"type\":\"range_variant\",\"emit_event\":true,\"start_ts\":" +
              std::to_string(1600000000000ULL + i) + ",\"stop_ts\":" +
              std::to_string(1700000000000ULL + i) + ",";
  }
  // A member no record kind defines, skipped with everything inside it.
  record += "\"notes\":{\"history\":[{\"by\":\"someone\",\"at\":1690000000,\"text\":\"changed "
            "the ranges \\\"again\\\" \\ud83d\\ude00\"},[1,[2,[3]]]],\"pad\":\"" +
            repeat("abcdefghij", 12) + "\"},";
  record += "\"experiment\":{\"experiment_version\":" + std::to_string(i % 13) +
            ",\"shuffle_version\":" + n +
            ",\"bucket_val\":\"user_id\",\"variants\":[{\"name\":\"on_" + n +
            "\",\"range_start\":0,\"range_end\":1}],\"targeting\":{\"ANY\":[{\"EQ\":{\"field\":"
            "\"country_code\",\"values\":[" + std::string(kCountries) +
            "]}},{\"NOT\":{\"EQ\":{\"field\":\"user_id\",\"value\":\"blocked\"}}}]},"
            "\"overrides\":[{\"forced_" + n + "\":{\"EQ\":{\"field\":\"user_id\",\"values\":"
            "[\"vip-0\",\"vip-1\",\"vip-2\",\"vip-3\",\"vip-4\"]}}}]}}";
  return record;
}

long peak_rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(HostileInput, FiftyMegabyteConfigurationLoadsAndDecides) {
  constexpr size_t kTargetBytes = 50u * 1000 * 1000;
  std::string doc = "{\n";
  size_t records = 0;
  while (doc.size() < kTargetBytes) {
    if (records > 0) doc += ",\n";
    doc += large_record(records++);
  }
  doc += "\n}\n";
  std::string path = write("large.json", doc);
  size_t bytes = doc.size();
  doc = std::string();  // the loader must not need it

  auto started = std::chrono::steady_clock::now();
  auto engine = init_orvane("darkmode targeting overrides fractional_availability value", path);
  auto loaded = std::chrono::steady_clock::now();
  ASSERT_TRUE(engine) << engine.error().display();
  ASSERT_EQ(engine->features().size(), records);

  Context member = user_ctx("u1");
  member.country_code = "FR";
  Context vip = user_ctx("vip-3");
  Context blocked = user_ctx("blocked");
  blocked.country_code = "XX";
  std::vector<size_t> sample = {0, 1, 2, records / 3, records / 2, records - 2, records - 1};
  for (size_t i = 5; i < records; i += 4999) sample.push_back(i);
  for (size_t i : sample) {
    SCOPED_TRACE(i);
    std::string n = std::to_string(i);
    std::string name = "feature_" + n;
    std::string owner = "team-" + std::to_string(i % 97);
    uint64_t version = i % 13;
    if (i % 10 == 9) {
      Result<JsonObject, OrvaneError> map = get_map(*engine, name, member);
      ASSERT_TRUE(map) << map.error().display();
      EXPECT_EQ(json_compact(Json(*map)),
                "{\"label\":\"cfg \xc3\xa4 " + n + "\",\"limit\":" + n +
                    ",\"tiers\":[1,2.5,-3,1000.0,true,null]}");
      continue;
    }
    uint64_t start = 1600000000000ULL + i;
    uint64_t stop = 1700000000000ULL + i;
    EXPECT_EQ(decision_line(choose(*engine, name, member, std::nullopt)),
              name + "#" + n + "." + std::to_string(version) + " on_" + n + " null - | " +
                  compact(0, i, name, version, "on_" + n, "u1", "user_id", start, stop, owner));
    EXPECT_EQ(decision_line(choose(*engine, name, vip, std::nullopt)),
              name + "#" + n + "." + std::to_string(version) + " forced_" + n + " \"forced_" + n +
                  "\" String | " +
                  compact(1, i, name, version, "forced_" + n, "vip-3", "user_id", start, stop,
                          owner));
    EXPECT_EQ(decision_line(choose(*engine, name, blocked, std::nullopt)), "no decision");
  }

  auto all = choose_all(*engine, member, std::nullopt);
  auto decided_all = std::chrono::steady_clock::now();
  EXPECT_EQ(all.size(), records - records / 10);
  size_t decided = 0;
  for (const auto& entry : all) {
    const DecideResult& result = entry.second;
    if (result && *result && (*result)->events.size() == 1) ++decided;
  }
  EXPECT_EQ(decided, all.size());

  auto ms = [](auto from, auto to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
  };
  std::cout << "[ figures  ] " << bytes << " bytes, " << records << " records, load "
            << ms(started, loaded) << " ms, choose_all " << ms(loaded, decided_all)
            << " ms, peak RSS " << peak_rss_kib() << " KiB\n";
  RecordProperty("config_bytes", std::to_string(bytes));
  RecordProperty("load_ms", std::to_string(ms(started, loaded)));
}

// ---------------------------------------------------------------------------------------
// Invalid UTF-8.

// One record on three lines; "@" marks where the bad bytes go. The second line starts with
// two-byte characters, so columns are counted in bytes, not characters.
std::string utf8_document(std::string_view record_members, std::string_view inner_members,
                          std::string_view key = "k") {
  std::string doc = "{\"" + std::string(key) + "\": {\"id\": 1, \"name\": \"f\", \"enabled\": true,\n";
  doc += "\"version\": \"\xc3\xa4\xc3\xb6\", \"owner\": \"o\", \"type\": \"range_variant\", ";
  doc += std::string(record_members) + "\n\"experiment\": {\"experiment_version\": 1, ";
  doc += "\"bucket_val\": \"user_id\", " + std::string(inner_members) + "}}}";
  return doc;
}

constexpr const char* kVariants = R"("variants": [{"name": "v", "range_start": 0, "range_end": 1}])";

TEST_F(HostileInput, InvalidUtf8InAStringFailsAsJson) {
  struct Place {
    const char* name;
    std::string doc;
  };
  const std::string v = kVariants;
  const Place kPlaces[] = {
      {"top-level key", utf8_document("", v, "k@")},
      {"record name", replace_all(utf8_document("", v), "\"name\": \"f\"", "\"name\": \"f@\"")},
      {"version text", replace_all(utf8_document("", v), "\xc3\xb6\"", "\xc3\xb6@\"")},
      {"type", replace_all(utf8_document("", v), "range_variant", "range@_variant")},
      {"unknown member name", utf8_document("\"no@tes\": 1,", v)},
      {"parent name", utf8_document("\"parent_hg_name\": \"p@\",", v)},
      {"value string", utf8_document("\"value\": \"x@\",", v)},
      {"value object key", utf8_document("\"value\": {\"a\": {\"@\": 1}},", v)},
      {"value inside an array", utf8_document("\"value\": [1, [\"@\"]],", v)},
      {"bucket field", replace_all(utf8_document("", v), "\"user_id\"", "\"user_@id\"")},
      {"variant name", utf8_document("", R"("variants": [{"name": "v@", "range_start": 0, "range_end": 1}])")},
      {"override variant", utf8_document("", R"("overrides": [{"v@": {"ALL": []}}])")},
      {"tree operator", utf8_document("", R"("targeting": {"NO@T": {"ALL": []}})")},
      {"tree field", utf8_document("", R"("targeting": {"GT": {"field": "f@", "value": 1}})")},
      {"EQ value", utf8_document("", R"("targeting": {"EQ": {"field": "f", "value": "@"}})")},
      {"EQ values", utf8_document("", R"("targeting": {"EQ": {"field": "f", "values": ["a", "@"]}})")},
      // The value of EQ is read whole before its shape is known, so nothing in it is skipped.
      {"EQ extra member", utf8_document("", R"("targeting": {"EQ": {"field": "f", "value": 1, "x": "@"}})")},
      {"NE value", utf8_document("", R"("targeting": {"NE": {"field": "f", "value": ["@"]}})")},
      {"NE member name", utf8_document("", R"("targeting": {"NE": {"field": "f", "value": 1, "w@": 2}})")},
  };
  const std::string kBad[] = {
      "\xff", "\x80", "\xc0\xaf", "\xc3(", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82",
      "\xf0\x9f\x98",
  };
  for (const Place& p : kPlaces) {
    for (const std::string& bad : kBad) {
      SCOPED_TRACE(std::string(p.name) + " with " + ::testing::PrintToString(bad));
      size_t marker = p.doc.find('@');
      ASSERT_NE(marker, std::string::npos);
      std::string doc = p.doc;
      doc.replace(marker, 1, bad);
      std::string expected = "Json error: \"invalid unicode code point" +
                             at_text(position_of(doc, closing_quote(doc, marker))) + "\"";
      EXPECT_EQ(load_text(load("fractional_availability", doc)), expected);
    }
  }
}

TEST_F(HostileInput, InvalidUtf8OutsideStringsAndInSkippedMembers) {
  struct Case {
    const char* name;
    std::string doc;
    const char* error;  // nullptr: the document loads and decides
  };
  const std::string v = kVariants;
  const Case kCases[] = {
      {"bare byte as a value", utf8_document("\"emit_event\": @,", v), "expected value"},
      {"bare byte as a key", utf8_document("@: 1,", v), "key must be a string"},
      {"bare byte after a value", utf8_document("\"emit_event\": true @,", v),
       "expected `,` or `}`"},
      {"bare byte before the document", "@" + utf8_document("", v), "expected value"},
      {"bare byte after the document", utf8_document("", v) + "\n@", "trailing characters"},
      // A member that no record kind defines is skipped with its value, whatever it holds.
      {"skipped string", utf8_document("\"notes\": \"x@y\",", v), nullptr},
      {"skipped nested value", utf8_document("\"notes\": {\"a@\": [\"b@\", {\"c\": \"@\"}]},", v),
       nullptr},
      {"skipped member of the inner record", utf8_document("\"extra\": [\"@\"],", v + ", \"why\": \"@\""),
       nullptr},
      {"skipped member of a variant",
       utf8_document("", R"("variants": [{"name": "v", "note": "@", "range_start": 0, "range_end": 1}])"),
       nullptr},
      {"skipped member of NE",
       utf8_document("", v + R"(, "targeting": {"NE": {"field": "user_id", "value": 1, "why": "@"}})"),
       nullptr},
  };
  const std::string kBad[] = {"\xff", "\xc0\xaf", "\xed\xa0\x80", "\xe2\x82"};
  for (const Case& c : kCases) {
    for (const std::string& bad : kBad) {
      SCOPED_TRACE(std::string(c.name) + " with " + ::testing::PrintToString(bad));
      size_t first = c.doc.find('@');
      ASSERT_NE(first, std::string::npos);
      std::string doc = replace_all(c.doc, "@", bad);
      auto engine = load("fractional_availability", doc);
      if (c.error == nullptr) {
        ASSERT_TRUE(engine) << engine.error().display();
        EXPECT_EQ(variant_or_dash(choose(*engine, "f", user_ctx("u1"), std::nullopt)), "v");
      } else {
        EXPECT_EQ(load_text(engine),
                  "Json error: \"" + std::string(c.error) + at_text(position_of(doc, first)) + "\"");
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// Sweeps over one document that uses every construct: every strict prefix, and a stray
// 0xFF byte at every offset.

struct SweepDocument {
  std::string text;
  std::vector<std::pair<size_t, size_t>> skipped;  // [begin, end) of skipped members' values
};

SweepDocument sweep_document() {
  SweepDocument d;
  auto skipped = [&](const std::string& value) {
    d.skipped.emplace_back(d.text.size(), d.text.size() + value.size());
    d.text += value;
  };
  d.text = R"({"k":{"id":4294967295,"name":"f","enabled":true,"version":"1.0","owner":"o\"\\\n\u00e4\ud83d\ude00",)";
  d.text += R"("type":"range_variant","emit_event":false,"start_ts":9223372036854775807,"notes":)";
  skipped(R"({"a":["b",-1.5e-3,{"c":"d\"e"},null,false]})");
  d.text += R"(,"value":{"n":-12,"x":0.25,"s":"t","l":[true,null,{}]},"value_type":"Map",)";
  d.text += R"("parent_hg_name":null,"experiment":{"experiment_version":3,"shuffle_version":0,)";
  d.text += R"("bucket_val":"user_id","variants":[{"name":"v","range_start":0,"range_end":1.0,"why":)";
  skipped(R"("w")");
  d.text += R"(},["w",0.5,1e0]],"overrides":[{"o":{"ANY":[{"EQ":{"field":"user_id","values":["x",1]}},)";
  d.text += R"({"NE":{"field":"locale","value":[1,{"k":"v"}],"why":)";
  skipped(R"("x")");
  d.text += R"(}},{"GE":["build_number",-1]}]}}],"targeting":{"NOT":{"LT":{"value":2,"field":"f"}}}}}})";
  return d;
}

TEST_F(HostileInput, EveryPrefixFailsAtItsEnd) {
  SweepDocument d = sweep_document();
  ASSERT_EQ(load_text(load("fractional_availability", d.text)), "loaded");
  const std::regex kEof(
      R"re(Json error: "EOF while parsing (a value|an object|a list|a string) at line 1 column (\d+)")re");
  for (size_t length = 0; length < d.text.size(); ++length) {
    SCOPED_TRACE(d.text.substr(0, length));
    std::string text = load_text(load("value", d.text.substr(0, length)));
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, kEof)) << text;
    EXPECT_EQ(match[2].str(), std::to_string(length));
  }
}

TEST_F(HostileInput, StrayByteAtEveryOffset) {
  SweepDocument d = sweep_document();
  const std::regex kOutside(
      R"re(Json error: "(expected value|key must be a string|expected `:`|expected `,` or `\}`|expected `,` or `\]`|expected ident|invalid number|trailing characters) at line 1 column (\d+)")re");
  // Where each string of the document lies, [opening quote, closing quote], and whether
  // it is inside an escape at a given offset.
  std::vector<std::pair<size_t, size_t>> strings;
  for (size_t i = 0; i < d.text.size(); ++i) {
    if (d.text[i] != '"') continue;
    size_t end = closing_quote(d.text, i + 1);
    strings.emplace_back(i, end);
    i = end;
  }
  auto in_escape = [&](size_t offset, size_t open) {
    // An escape sequence runs from its backslash over 1 or 5 bytes; a surrogate pair's two
    // escapes count as one.
    for (size_t i = open + 1; i < offset; ++i) {
      if (d.text[i] != '\\') continue;
      size_t length = d.text[i + 1] == 'u' ? 6 : 2;
      if (d.text[i + 1] == 'u' && d.text.compare(i + 6, 2, "\\u") == 0 &&
          d.text[i + 2] == 'd' && (d.text[i + 3] == '8' || d.text[i + 3] == '9' ||
                                   d.text[i + 3] == 'a' || d.text[i + 3] == 'b')) {
        length = 12;
      }
      if (offset < i + length) return true;
      i += length - 1;
    }
    return false;
  };
  size_t inside_checked = 0;
  size_t outside_checked = 0;
  for (size_t offset = 0; offset <= d.text.size(); ++offset) {
    std::string doc = d.text;
    doc.insert(offset, 1, '\xff');
    SCOPED_TRACE(doc);
    std::string text = load_text(load("fractional_availability", doc));
    const std::pair<size_t, size_t>* string = nullptr;
    for (const auto& s : strings) {
      if (offset > s.first && offset <= s.second) string = &s;
    }
    if (string == nullptr) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(text, match, kOutside)) << text;
      EXPECT_EQ(match[2].str(), std::to_string(offset + 1));
      ++outside_checked;
      continue;
    }
    if (in_escape(offset, string->first)) {
      EXPECT_NE(text.find("escape"), std::string::npos) << text;
      continue;
    }
    bool skipped = false;
    for (const auto& [begin, end] : d.skipped) skipped = skipped || (offset > begin && offset < end);
    if (skipped) {
      EXPECT_EQ(text, "loaded");
    } else {
      EXPECT_EQ(text, "Json error: \"invalid unicode code point at line 1 column " +
                          std::to_string(string->second + 2) + "\"");
    }
    ++inside_checked;
  }
  EXPECT_GT(inside_checked, 200u);
  EXPECT_GT(outside_checked, 250u);
}

// ---------------------------------------------------------------------------------------
// Names and values made of quotes, backslashes, control characters, the event text's own
// separator and non-ASCII text.

struct HostileText {
  const char* name;
  std::string text;
};

std::vector<HostileText> hostile_texts() {
  return {
      {"quotes and backslashes", "say \"hi\" \\ back\\slash \\\" \\u0041"},
      {"control characters", "tab\there nl\nret\r\x01\x1f\x7f nul\0end\b\f"s},
      {"separators", "::::a::::b:::::"},
      {"non-ASCII", "ünïcödé ✓ 😀 中文 \u2028 \uFEFF \u0085"},
      {"all at once", "\"::::\\\x01\xe2\x80\xa8\xf0\x9f\x98\x80\0::::"s},
      {"empty", ""},
  };
}

// Names of one record derived from one hostile text; the empty text leaves them all empty.
struct HostileNames {
  std::string name, owner, variant, override_variant, field, identifier, user;
};

HostileNames names_from(const std::string& t) {
  auto with = [&](const char* suffix) { return t.empty() ? t : t + suffix; };
  return {with("|name"), with("|owner"), with("|variant"), with("|override"),
          with("|field"), with("|id"),   with("|user")};
}

std::string hostile_config(const HostileNames& n, bool ascii_only) {
  // Built step by step: brace lists of pairs are easily taken for objects or arrays.
  OrderedJson variant = OrderedJson::object();
  variant["name"] = n.variant;
  variant["range_start"] = 0;
  variant["range_end"] = 1;
  OrderedJson forced_tree = OrderedJson::object();
  forced_tree["EQ"] = OrderedJson::object();
  forced_tree["EQ"]["field"] = "user_id";
  forced_tree["EQ"]["value"] = n.user;
  OrderedJson override_map = OrderedJson::object();
  override_map[n.override_variant] = forced_tree;
  OrderedJson targeting = OrderedJson::object();
  targeting["NE"] = OrderedJson::object();
  targeting["NE"]["field"] = "user_id";
  targeting["NE"]["value"] = n.user + "|blocked";

  OrderedJson doc = OrderedJson::object();
  doc[n.name + "|key"] = {
      {"id", 4294967295u},
      {"name", n.name},
      {"enabled", true},
      {"version", n.name},
      {"owner", n.owner},
      {"type", "range_variant"},
      {"emit_event", true},
      {"start_ts", 5},
      {"stop_ts", 9223372036854775807LL},
      {"experiment",
       {{"experiment_version", 4294967295u},
        {"shuffle_version", 4294967295u},
        {"bucket_val", n.field},
        {"variants", OrderedJson::array({variant})},
        {"overrides", OrderedJson::array({override_map})},
        {"targeting", targeting}}},
  };
  doc["dc"] = {{"id", 1},         {"name", "dc"},     {"enabled", true},
               {"version", "1"},  {"owner", n.owner}, {"type", "dynamic_config"},
               {"value", n.name}, {"value_type", "Text"},
               {"experiment", {{"experiment_version", 1}}}};
  return doc.dump(-1, ' ', ascii_only);
}

// The encoded event with its three stamps (time, event UUID, batch UUID) replaced by fixed
// values, after checking that they have their forms; and the original text written out
// again by a standard writer, which must give back the same bytes.
std::string stamped(const std::string& json, std::string& rewritten) {
  OrderedJson event = OrderedJson::parse(json);
  rewritten = event.dump();
  EXPECT_TRUE(event["5"]["i64"].is_number_integer());
  for (const char* key : {"6", "8"}) {
    std::string uuid = event[key]["str"].get<std::string>();
    EXPECT_TRUE(std::regex_match(
        uuid, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << uuid;
  }
  event["5"]["i64"] = 0;
  event["6"]["str"] = "event-uuid";
  event["8"]["str"] = "batch-uuid";
  return event.dump();
}

TEST_F(HostileInput, HostileNamesInEventsAndMessages) {
  for (const HostileText& h : hostile_texts()) {
    for (bool ascii_only : {false, true}) {
      SCOPED_TRACE(std::string(h.name) + (ascii_only ? " (written with \\u escapes)" : ""));
      HostileNames n = names_from(h.text);
      auto engine = load("targeting overrides fractional_availability value", hostile_config(n, ascii_only));
      ASSERT_TRUE(engine) << engine.error().display();

      Context ctx = user_ctx(n.user + "|other");
      ctx.other_fields = JsonObject{{n.field, Json(n.identifier)}};
      ctx.app_name = n.owner;
      ctx.locale = n.variant;
      ctx.canonical_url = n.name;
      ctx.country_code = n.user;
      Context forced = ctx;
      forced.user_id = n.user;

      struct Row {
        const char* name;
        const Context& ctx;
        int kind;
        std::string variant;
        std::string user;
      };
      const Row kRows[] = {
          {"bucketed", ctx, 0, n.variant, n.user + "|other"},
          {"overridden", forced, 1, n.override_variant, n.user},
      };
      for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        DecideResult result = choose(*engine, n.name, row.ctx, std::nullopt);
        std::string value = row.kind == 0 ? "null -" : Json(row.variant).dump() + " String";
        std::string event = compact(row.kind, 4294967295u, n.name, 4294967295u, row.variant,
                                    n.identifier, n.field, 5, 9223372036854775807ULL, n.owner);
        EXPECT_EQ(decision_line(result),
                  n.name + "#4294967295.4294967295 " + row.variant + " " + value + " | " + event);
        ASSERT_TRUE(result && *result && (*result)->events.size() == 1);

        OrderedJson expected = {
            {"1", {{"str", "experiment"}}},
            {"2", {{"str", "expose"}}},
            {"3", {{"str", n.field}}},
            {"5", {{"i64", 0}}},
            {"6", {{"str", "event-uuid"}}},
            {"8", {{"str", "batch-uuid"}}},
            {"107", {{"rec", {{"2", {{"str", n.owner}}}, {"6", {{"str", n.variant}}}}}}},
            {"109", {{"rec", {{"17", {{"str", n.name}}}}}}},
            {"112", {{"rec", {{"1", {{"str", row.user}}}}}}},
            {"129",
             {{"rec",
               {{"1", {{"i64", 4294967295u}}},
                {"2", {{"str", n.name}}},
                {"3", {{"str", n.owner}}},
                {"4", {{"str", row.variant}}},
                {"5", {{"i64", 5}}},
                {"6", {{"i64", 9223372036854775807LL}}},
                {"7", {{"str", n.field}}},
                {"8", {{"str", "4294967295"}}},
                {"9", {{"str", n.identifier}}},
                {"10", {{"tf", row.kind == 1 ? 1 : 0}}}}}}},
            {"500", {{"rec", {{"1", {{"str", n.user}}}}}}},
        };
        const std::string json = (*result)->events.documents()[0].json;
        std::string rewritten;
        EXPECT_EQ(stamped(json, rewritten), expected.dump());
        EXPECT_EQ(rewritten, json);
      }

      // A hostile field name and identifier type in the choose errors.
      EXPECT_EQ(decision_line(choose(*engine, n.name, ctx, ContextField::from_name("user_id"))),
                "error: Requested identifier_type: \"user_id\" is incompatible with "
                "experiment's bucket_val = " + n.field + ".");
      Context without_field = user_ctx(n.user + "|other");
      EXPECT_EQ(decision_line(choose(*engine, n.name, without_field, std::nullopt)),
                "error: Missing field \"" + n.field + "\" in context for bucket_val = " + n.field);
      Result<std::string, OrvaneError> text = get_string(*engine, "dc", ctx);
      EXPECT_EQ(text ? *text : text.error().display(), n.name);
    }
  }
}

TEST_F(HostileInput, FeatureNotFoundKeepsTheNameAsGiven) {
  auto engine = load("value", R"({"k": {"id": 1, "name": "present", "enabled": true,
    "version": "1", "owner": "o", "type": "dynamic_config", "value": true,
    "value_type": "Boolean", "experiment": {"experiment_version": 1}}})");
  ASSERT_TRUE(engine) << engine.error().display();
  std::vector<std::string> names;
  for (const HostileText& h : hostile_texts()) names.push_back(h.text);
  names.push_back("present ");
  names.push_back("Present");
  names.push_back(std::string("present\0", 8));
  names.push_back(repeat("\xe2\x82\xac\"", 5000));
  names.push_back("\xff\xfe invalid \xc0");
  Context ctx = user_ctx("u1");
  for (const std::string& name : names) {
    SCOPED_TRACE(::testing::PrintToString(name));
    const std::string expected = "Feature \"" + name + "\" not found.";
    auto message = [](const auto& result) {
      return result ? std::string("<found>") : result.error().display();
    };
    EXPECT_EQ(message(choose(*engine, name, ctx, std::nullopt)), expected);
    EXPECT_EQ(message(choose(*engine, name, ctx, ContextField::from_name(name))), expected);
    EXPECT_EQ(message(get_value(*engine, name, ctx)), expected);
    EXPECT_EQ(message(get_bool(*engine, name, ctx)), expected);
    EXPECT_EQ(message(get_int(*engine, name, ctx)), expected);
    EXPECT_EQ(message(get_float(*engine, name, ctx)), expected);
    EXPECT_EQ(message(get_string(*engine, name, ctx)), expected);
    EXPECT_EQ(message(get_map(*engine, name, ctx)), expected);
  }
  ASSERT_TRUE(get_bool(*engine, "present", ctx));
}

TEST_F(HostileInput, HostileTextInReaderMessages) {
  struct Case {
    const char* name;
    std::string json_value;  // as written in the file
    std::string shown;       // as the message shows it, quoted once more by the loader
  };
  const Case kCases[] = {
      {"quote, backslash, control, non-ASCII", R"("x\"y\\z\u0001\u00e4")",
       "x\\\"y\\\\z\\u{1}\xc3\xa4"},
      {"tab and line feed", R"("a\tb\nc")", "a\\tb\\nc"},
      {"separators", R"("::::")", "::::"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string doc = R"({"k": {"id": 1, "name": "f", "enabled": true, "version": "1", "owner": "o", "type": )" +
                      c.json_value + R"(, "experiment": {"experiment_version": 1}}})";
    size_t end = doc.find(c.json_value) + c.json_value.size() - 1;
    EXPECT_EQ(load_text(load("value", doc)),
              "Json error: \"unknown variant `" + c.shown +
                  "`, expected one of `dynamic_config`, `range_variant`, `feature_rollout`" +
                  at_text(position_of(doc, end)) + "\"");
  }
}

// ---------------------------------------------------------------------------------------
// Integers at every range boundary.

// One range_variant record on one line; the placeholders take the numbers as written.
std::string numbers_document(const std::string& id, const std::string& version,
                             const std::string& shuffle, const std::string& start,
                             const std::string& stop, bool emit_event = true) {
  return R"({"k":{"id":)" + id + R"(,"name":"f","enabled":true,"version":"1","owner":"o",)" +
         R"("type":"range_variant","emit_event":)" + (emit_event ? "true" : "false") +
         R"(,"start_ts":)" + start + R"(,"stop_ts":)" + stop +
         R"(,"experiment":{"experiment_version":)" + version + R"(,"shuffle_version":)" + shuffle +
         R"(,"bucket_val":"user_id","variants":[{"name":"v","range_start":0,"range_end":1}],)" +
         R"("overrides":[{"forced":{"EQ":{"field":"user_id","value":"vip"}}}]}}})";
}

TEST_F(HostileInput, IntegersAtTheirRangeBoundaries) {
  struct Case {
    const char* name;
    std::string id = "1", version = "1", shuffle = "1", start = "0", stop = "100";
    const char* key = nullptr;   // the member whose number fails, or nullptr
    const char* message = "";   // the reader's message for it
  };
  constexpr uint64_t kSignedMax = std::numeric_limits<int64_t>::max();
  constexpr const char* kU32 = "expected u32";
  constexpr const char* kU64 = "expected u64";
  const std::vector<std::pair<Case, const char*>> kCases = {
      {{"id 0", "0"}, nullptr},
      {{"id u32 max", "4294967295"}, nullptr},
      {{"id u32 max + 1", "4294967296", "1", "1", "0", "100", "id",
        "invalid value: integer `4294967296`"}, kU32},
      {{"id -1", "-1", "1", "1", "0", "100", "id", "invalid value: integer `-1`"}, kU32},
      {{"id u64 max", "18446744073709551615", "1", "1", "0", "100", "id",
        "invalid value: integer `18446744073709551615`"}, kU32},
      {{"id i64 min", "-9223372036854775808", "1", "1", "0", "100", "id",
        "invalid value: integer `-9223372036854775808`"}, kU32},
      {{"id above u64", "18446744073709551616", "1", "1", "0", "100", "id",
        "invalid type: floating point `1.8446744073709552e19`"}, kU32},
      {{"id below i64", "-9223372036854775809", "1", "1", "0", "100", "id",
        "invalid type: floating point `-9.223372036854776e18`"}, kU32},
      {{"version 0", "1", "0"}, nullptr},
      {{"version u32 max", "1", "4294967295"}, nullptr},
      {{"version u32 max + 1", "1", "4294967296", "1", "0", "100", "experiment_version",
        "invalid value: integer `4294967296`"}, kU32},
      {{"version -1", "1", "-1", "1", "0", "100", "experiment_version",
        "invalid value: integer `-1`"}, kU32},
      {{"shuffle u32 max", "1", "1", "4294967295"}, nullptr},
      {{"shuffle u32 max + 1", "1", "1", "4294967296", "0", "100", "shuffle_version",
        "invalid value: integer `4294967296`"}, kU32},
      {{"shuffle -1", "1", "1", "-1", "0", "100", "shuffle_version",
        "invalid value: integer `-1`"}, kU32},
      {{"start u64 max", "1", "1", "1", "18446744073709551615"}, nullptr},
      {{"start -1", "1", "1", "1", "-1", "100", "start_ts", "invalid value: integer `-1`"}, kU64},
      {{"start above u64", "1", "1", "1", "18446744073709551616", "100", "start_ts",
        "invalid type: floating point `1.8446744073709552e19`"}, kU64},
      {{"stop u64 max", "1", "1", "1", "0", "18446744073709551615"}, nullptr},
      {{"stop i64 min", "1", "1", "1", "0", "-9223372036854775808", "stop_ts",
        "invalid value: integer `-9223372036854775808`"}, kU64},
      {{"stop with a fraction", "1", "1", "1", "0", "1.5", "stop_ts",
        "invalid type: floating point `1.5`"}, kU64},
  };
  for (const auto& [c, expectation] : kCases) {
    SCOPED_TRACE(c.name);
    std::string doc = numbers_document(c.id, c.version, c.shuffle, c.start, c.stop);
    auto engine = load("overrides fractional_availability", doc);
    if (c.key == nullptr) {
      ASSERT_TRUE(engine) << engine.error().display();
      uint64_t start = std::stoull(c.start);
      uint64_t stop = std::stoull(c.stop);
      std::string expected =
          start > kSignedMax || stop > kSignedMax
              ? "error: Orvane returned malformed event: out of range integral type conversion "
                "attempted"
              : "f#" + c.id + "." + c.version + " v null - | " +
                    compact(0, std::stoull(c.id), "f", std::stoull(c.version), "v", "u1",
                            "user_id", start, stop, "o");
      EXPECT_EQ(decision_line(choose(*engine, "f", user_ctx("u1"), std::nullopt)), expected);
      continue;
    }
    const std::string& number = std::string(c.key) == "id" ? c.id
                                : std::string(c.key) == "experiment_version" ? c.version
                                : std::string(c.key) == "shuffle_version"    ? c.shuffle
                                : std::string(c.key) == "start_ts"           ? c.start
                                                                             : c.stop;
    std::string member = "\"" + std::string(c.key) + "\":" + number;
    size_t after = doc.find(member) + member.size();
    EXPECT_EQ(load_text(engine), "Json error: \"" + std::string(c.message) + ", " + expectation +
                                     at_text(position_of(doc, after)) + "\"");
  }
}

TEST_F(HostileInput, TimestampsBeyondSignedRangeFailOnlyTheEvents) {
  constexpr const char* kMalformed =
      "error: Orvane returned malformed event: out of range integral type conversion attempted";
  const std::string kI64Max = "9223372036854775807";
  const std::string kI64MaxPlus1 = "9223372036854775808";
  const std::string kU64Max = "18446744073709551615";
  struct Case {
    const char* name;
    std::string start, stop;
    bool emit_event;
    std::string user;
    std::string decision;
  };
  const Case kCases[] = {
      {"both at the signed maximum", kI64Max, kI64Max, true, "u1",
       "f#1.1 v null - | " +
           compact(0, 1, "f", 1, "v", "u1", "user_id", 9223372036854775807ULL,
                   9223372036854775807ULL, "o")},
      {"override at the signed maximum", kI64Max, "0", true, "vip",
       "f#1.1 forced \"forced\" String | " +
           compact(1, 1, "f", 1, "forced", "vip", "user_id", 9223372036854775807ULL, 0, "o")},
      {"start one above", kI64MaxPlus1, "0", true, "u1", kMalformed},
      {"stop at the unsigned maximum", "0", kU64Max, true, "u1", kMalformed},
      {"override with start at the unsigned maximum", kU64Max, "0", true, "vip", kMalformed},
      {"no events, nothing to convert", kU64Max, kU64Max, false, "u1", "f#1.1 v null -"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto engine = load("overrides fractional_availability",
                       numbers_document("1", "1", "0", c.start, c.stop, c.emit_event));
    ASSERT_TRUE(engine) << engine.error().display();
    DecideResult result = choose(*engine, "f", user_ctx(c.user), std::nullopt);
    EXPECT_EQ(decision_line(result), c.decision);
    if (result && *result && !(*result)->events.empty()) {
      Json event = Json::parse((*result)->events.documents()[0].json);
      EXPECT_EQ(event["129"]["rec"]["5"]["i64"].get<int64_t>(), std::stoll(c.start));
      EXPECT_EQ(event["129"]["rec"]["6"]["i64"].get<int64_t>(), std::stoll(c.stop));
    }
  }

  // The failing events of a holdout group fail the decision of the feature above it, and
  // choose_all keeps deciding the other features.
  auto engine = load("holdout fractional_availability", R"({
    "top": {"id": 1, "name": "top", "enabled": true, "version": "1", "owner": "o",
      "type": "range_variant", "emit_event": true, "parent_hg_name": "group",
      "experiment": {"experiment_version": 1, "bucket_val": "user_id",
        "variants": [{"name": "v", "range_start": 0, "range_end": 1}]}},
    "group": {"id": 2, "name": "group", "enabled": true, "version": "1", "owner": "o",
      "type": "range_variant", "emit_event": true, "start_ts": 18446744073709551615,
      "experiment": {"experiment_version": 1, "bucket_val": "user_id",
        "variants": [{"name": "control_1", "range_start": 0, "range_end": 1}]}},
    "plain": {"id": 3, "name": "plain", "enabled": true, "version": "1", "owner": "o",
      "type": "range_variant", "emit_event": true, "stop_ts": 9223372036854775807,
      "experiment": {"experiment_version": 1, "bucket_val": "user_id",
        "variants": [{"name": "v", "range_start": 0, "range_end": 1}]}}})");
  ASSERT_TRUE(engine) << engine.error().display();
  auto all = choose_all(*engine, user_ctx("u1"), std::nullopt);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(entry_line(all, "top"), kMalformed);
  EXPECT_EQ(entry_line(all, "group"), kMalformed);
  EXPECT_EQ(entry_line(all, "plain"),
            "plain#3.1 v null - | " +
                compact(0, 3, "plain", 1, "v", "u1", "user_id", 0, 9223372036854775807ULL, "o"));
}

// The bucket of a seed computed apart from the engine: SHA-1 through OpenSSL's EVP
// interface and the remainder by its big-number division.
unsigned reference_bucket(const std::string& seed) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(seed.data(), seed.size(), digest, &length, EVP_sha1(), nullptr), 1);
  BIGNUM* number = BN_bin2bn(digest, static_cast<int>(length), nullptr);
  BN_ULONG remainder = BN_mod_word(number, 1000);
  BN_free(number);
  return static_cast<unsigned>(remainder);
}

// A record whose 1000 variants b0 .. b999 each hold exactly one bucket, so the decided
// variant names the bucket.
std::string probe_record(const std::string& name, const std::string& id,
                         const std::string& shuffle, const std::string& field) {
  std::string variants;
  char range[64];
  for (int b = 0; b < 1000; ++b) {
    std::snprintf(range, sizeof range, "\"range_start\":%.4f,\"range_end\":%.4f",
                  (b - 0.5) / 1000.0, (b + 0.5) / 1000.0);
    variants += (b ? "," : "") + std::string("{\"name\":\"b") + std::to_string(b) + "\"," + range + "}";
  }
  return "\"" + name + "\":{\"id\":" + id + ",\"name\":\"" + name +
         "\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\","
         "\"emit_event\":true,\"experiment\":{\"experiment_version\":1,\"shuffle_version\":" +
         shuffle + ",\"bucket_val\":\"" + field + "\",\"variants\":[" + variants + "]}}";
}

TEST_F(HostileInput, ExtremeIdentifiersAndSeeds) {
  ASSERT_EQ(reference_bucket("42.my_feature.3u1234"), 559u);  // the documented example

  static constexpr int32_t kI32Min = std::numeric_limits<int32_t>::min();
  static constexpr int32_t kI32Max = std::numeric_limits<int32_t>::max();
  static constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();
  static constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();
  struct Case {
    const char* name;
    const char* field;
    Context ctx;
    std::string identifier;
  };
  auto with = [](auto setter) {
    Context ctx;
    setter(ctx);
    return ctx;
  };
  const Case kCases[] = {
      {"build_number minimum", "build_number", with([](Context& c) { c.build_number = kI32Min; }),
       "-2147483648"},
      {"build_number maximum", "build_number", with([](Context& c) { c.build_number = kI32Max; }),
       "2147483647"},
      {"build_number zero", "build_number", with([](Context& c) { c.build_number = 0; }), "0"},
      {"cookie timestamp minimum", "cookie_created_timestamp",
       with([](Context& c) { c.cookie_created_timestamp = kI64Min; }), "-9223372036854775808"},
      {"cookie timestamp maximum", "cookie_created_timestamp",
       with([](Context& c) { c.cookie_created_timestamp = kI64Max; }), "9223372036854775807"},
      {"loid timestamp minimum", "loid_created_timestamp",
       with([](Context& c) { c.loid_created_timestamp = kI64Min; }), "-9223372036854775808"},
      {"loid timestamp maximum", "loid_created_timestamp",
       with([](Context& c) { c.loid_created_timestamp = kI64Max; }), "9223372036854775807"},
      {"extra field at the unsigned maximum", "n",
       with([](Context& c) { c.other_fields = JsonObject{{"n", Json(UINT64_MAX)}}; }),
       "18446744073709551615"},
      {"extra field at the signed minimum", "n",
       with([](Context& c) { c.other_fields = JsonObject{{"n", Json(kI64Min)}}; }),
       "-9223372036854775808"},
      {"empty user id", "user_id", with([](Context& c) { c.user_id = ""; }), ""},
      {"logged_in false", "logged_in", with([](Context& c) { c.logged_in = false; }), "false"},
  };
  std::string doc = "{";
  for (const Case& c : kCases) {
    std::string field = c.field;
    if (doc.find("\"max_" + field + "\"") != std::string::npos) continue;
    doc += (doc.size() > 1 ? "," : "") + probe_record("max_" + field, "4294967295", "4294967295", field) +
           "," + probe_record("min_" + field, "0", "0", field);
  }
  doc += "}";
  auto engine = load("fractional_availability", doc);
  ASSERT_TRUE(engine) << engine.error().display();

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const auto& [prefix, number] : {std::pair<std::string, std::string>{"max_", "4294967295"},
                                         std::pair<std::string, std::string>{"min_", "0"}}) {
      std::string name = prefix + c.field;
      std::string seed = number + "." + name + "." + number + c.identifier;
      std::string variant = "b" + std::to_string(reference_bucket(seed));
      uint64_t id = std::stoull(number);
      EXPECT_EQ(decision_line(choose(*engine, name, c.ctx, std::nullopt)),
                name + "#" + number + ".1 " + variant + " null - | " +
                    compact(0, id, name, 1, variant, c.identifier, c.field, 0, 0, "o"));
    }
  }

  // The same extremes as they go into the encoded event's context records.
  Context ctx = user_ctx("");
  ctx.app_name = "a";
  ctx.build_number = kI32Min;
  ctx.cookie_created_timestamp = kI64Min;
  ctx.logged_in = false;
  DecideResult result = choose(*engine, "max_user_id", ctx, std::nullopt);
  ASSERT_TRUE(result && *result) << decision_line(result);
  Json event = Json::parse((*result)->events.documents()[0].json);
  EXPECT_EQ(event["107"].dump(), R"({"rec":{"2":{"str":"a"},"4":{"i32":-2147483648}}})");
  EXPECT_EQ(event["112"].dump(),
            R"({"rec":{"1":{"str":""},"3":{"tf":0},"4":{"i64":-9223372036854775808}}})");
  ctx.build_number = kI32Max;
  ctx.cookie_created_timestamp = kI64Max;
  result = choose(*engine, "max_user_id", ctx, std::nullopt);
  ASSERT_TRUE(result && *result) << decision_line(result);
  event = Json::parse((*result)->events.documents()[0].json);
  EXPECT_EQ(event["107"].dump(), R"({"rec":{"2":{"str":"a"},"4":{"i32":2147483647}}})");
  EXPECT_EQ(event["112"].dump(),
            R"({"rec":{"1":{"str":""},"3":{"tf":0},"4":{"i64":9223372036854775807}}})");
}

}  // namespace
}  // namespace orvane
