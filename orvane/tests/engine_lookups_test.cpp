#include <gtest/gtest.h>

#include <limits>
#include <map>

#include "engine_test_support.h"

namespace orvane {
namespace {

using namespace testing;

Feature bucketed(uint32_t id, const char* name, const char* field, const char* variant = "all") {
  Feature f = experiment(id, name, variant);
  f.variant_set->bucket_val.reset();
  if (field) f.variant_set->bucket_val = ContextField::from_name(field);
  return f;
}

FeatureList features() {
  Feature held = experiment(12, "held");
  held.variant_set->holdout = share([] {
    Feature g = experiment(100, "g", "holdout");
    g.value = Json::array({1, 2});
    return g;
  }());
  auto config = [](uint32_t id, const char* name, Json value) {
    return share(dynamic_config(id, name, std::move(value), ValueType::Integer));
  };
  return {share(experiment(1, "exp")), share(bucketed(2, "team", "team")),
          share(bucketed(3, "nobucket", nullptr)), share(bucketed(4, "fails", "country_code")),
          share(bucketed(5, "dup", "user_id", "first")),
          share(bucketed(6, "dup", "user_id", "second")), share(held),
          // Last of its name, but not decided when choose_all asks for user ids.
          share(bucketed(7, "dup", "team", "third")),
          config(20, "int", Json(uint64_t{5})), config(21, "float", Json(5.0)),
          config(22, "str", Json("5")), config(23, "big", Json(uint64_t{1} << 63)),
          config(24, "min", Json(std::numeric_limits<int64_t>::min())),
          config(25, "max", Json(uint64_t{9223372036854775807u})), config(26, "bool", Json(true)),
          config(27, "map", Json{{"b", 2}, {"a", "x"}}), config(28, "arr", Json::array({1}))};
}

std::optional<ContextField> id_type(const char* name) {
  return name ? std::optional(ContextField::from_name(name)) : std::nullopt;
}

// name#id variant value [compact events], the error, or "no decision".
std::string brief(const DecideResult& result) {
  if (!result) return "error: " + result.error().display();
  if (!*result) return "no decision";
  std::string text = (*result)->feature_name + "#" + std::to_string((*result)->feature_id) + " " +
                     (*result)->variant_name.value_or("-") + " " + json_debug((*result)->value);
  for (const std::string& event : (*result)->events.texts()) text += " " + event;
  return text;
}

class Engine : public ::testing::Test {
 protected:
  Engine() { ctx_.user_id = "u1", ctx_.other_fields = JsonObject{{"team", "t1"}}; }
  const Orvane engine_{features(), chain("holdout fractional_availability value")};
  Context ctx_;
};

TEST_F(Engine, Choose) {
  const char* kExp = "exp#1 all Null 0::::1::::exp::::2::::all::::u1::::user_id::::0::::100::::o";
  const char* kInvalid = "error: Invalid Feature configuration.";
  const struct {
    const char* feature;
    const char* identifier_type;
    const char* result;
  } kCases[] = {
      {"exp", nullptr, kExp},
      {"exp", "user_id", kExp},
      {"exp", "device_id",
       "error: Requested identifier_type: \"device_id\" is incompatible with experiment's "
       "bucket_val = user_id."},
      {"team", "team", "team#2 all Null 0::::2::::team::::2::::all::::t1::::team::::0::::100::::o"},
      {"team", "Team",
       "error: Requested identifier_type: \"Team\" is incompatible with experiment's "
       "bucket_val = team."},
      {"int", "user_id", kInvalid},
      {"int", nullptr, "int#20 - Number(5)"},
      {"nobucket", "user_id", kInvalid},
      {"nobucket", nullptr, "error: Missing \"bucket_val\" field in experiment config."},
      {"", nullptr, "error: Feature \"\" not found."},
      {"EXP", "user_id", "error: Feature \"EXP\" not found."},
      {"dup", nullptr,
       "dup#5 first Null 0::::5::::dup::::2::::first::::u1::::user_id::::0::::100::::o"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(brief(choose(engine_, c.feature, ctx_, id_type(c.identifier_type))), c.result)
        << c.feature << " / " << (c.identifier_type ? c.identifier_type : "none");
  }
}

TEST_F(Engine, ChooseAll) {
  auto sorted = [&](const char* identifier_type) {
    std::map<std::string, std::string> out;
    for (const auto& [name, result] : choose_all(engine_, ctx_, id_type(identifier_type))) {
      EXPECT_TRUE(out.emplace(name, brief(result)).second) << "two entries for " << name;
    }
    return out;
  };
  using Map = std::map<std::string, std::string>;
  const std::string kDup =
      "dup#6 second Null 0::::6::::dup::::2::::second::::u1::::user_id::::0::::100::::o";
  const std::string kExp =
      "exp#1 all Null 0::::1::::exp::::2::::all::::u1::::user_id::::0::::100::::o";
  const std::string kHeld = "held#12 - Array([Number(1), Number(2)]) "
                            "2::::100::::g::::2::::holdout::::u1::::user_id::::0::::100::::o";
  const std::string kFails =
      "error: Missing field \"country_code\" in context for bucket_val = country_code";
  EXPECT_EQ(sorted(nullptr),
            (Map{{"dup", "dup#7 third Null 0::::7::::dup::::2::::third::::t1::::team::::0::::100::::o"},
                 {"exp", kExp},
                 {"fails", kFails},
                 {"held", kHeld},
                 {"nobucket", "error: Missing \"bucket_val\" field in experiment config."},
                 {"team", "team#2 all Null "
                          "0::::2::::team::::2::::all::::t1::::team::::0::::100::::o"}}));
  EXPECT_EQ(sorted("user_id"), (Map{{"dup", kDup}, {"exp", kExp}, {"held", kHeld}}));
  EXPECT_EQ(sorted("country_code"), (Map{{"fails", kFails}}));
  EXPECT_EQ(sorted("locale"), Map{});
}

template <class T>
std::string text(const Result<T, OrvaneError>& result) {
  if (!result) return result.error().display();
  if constexpr (std::is_same_v<T, double>) {
    return float_debug(*result);
  } else {
    return json_compact(Json(*result));
  }
}

TEST_F(Engine, TypedLookups) {
  const std::string kMismatch = "Dynamic Configuration Feature type mismatch.";
  const std::string kNumber = "Number deserialization failed.";
  auto i = [&](const char* name) { return text(get_int(engine_, name, ctx_)); };
  auto f = [&](const char* name) { return text(get_float(engine_, name, ctx_)); };
  EXPECT_EQ(i("int"), "5");
  EXPECT_EQ(i("float"), kNumber);
  EXPECT_EQ(i("str"), kMismatch);
  EXPECT_EQ(i("big"), kNumber);
  EXPECT_EQ(i("min"), "-9223372036854775808");
  EXPECT_EQ(i("max"), "9223372036854775807");
  EXPECT_EQ(i("bool"), kMismatch);
  EXPECT_EQ(i("arr"), "Invalid Feature configuration.");  // arrays pass; nothing decides
  EXPECT_EQ(i("INT"), "Feature \"INT\" not found.");
  EXPECT_EQ(f("int"), "5.0");
  EXPECT_EQ(f("min"), "-9.223372036854776e18");
  EXPECT_EQ(f("str"), kMismatch);
  EXPECT_EQ(text(get_bool(engine_, "bool", ctx_)), "true");
  EXPECT_EQ(text(get_bool(engine_, "int", ctx_)), kMismatch);
  EXPECT_EQ(text(get_string(engine_, "str", ctx_)), "\"5\"");
  EXPECT_EQ(text(get_string(engine_, "int", ctx_)), kMismatch);
  EXPECT_EQ(text(get_map(engine_, "map", ctx_)), R"({"a":"x","b":2})");
  EXPECT_EQ(text(get_map(engine_, "held", ctx_)), kMismatch);
  EXPECT_EQ(text(get_value(engine_, "held", ctx_)), "[1,2]");
  EXPECT_EQ(text(get_value(engine_, "fails", ctx_)),
            "Missing field \"country_code\" in context for bucket_val = country_code");
  EXPECT_EQ((*feature_by_name(engine_, "dup"))->id, 5u);
}

TEST(GetAllValues, DefaultsAndSkips) {
  auto config = [](uint32_t id, const char* name, std::optional<Json> value,
                   std::optional<ValueType> type, bool enabled = true) {
    Feature f = dynamic_config(id, name, std::move(value), type);
    f.enabled = enabled;
    return share(f);
  };
  // An override on a feature without variant set cannot make its event, so it fails.
  Feature failing = dynamic_config(2, "failing", Json("x"), ValueType::Text);
  failing.emit_event = true;
  failing.overrides = {{{"v", eq("user_id", "u1")}}};
  const Orvane engine({config(1, "disabled", Json(7), ValueType::Integer, false), share(failing),
                       config(3, "bool", std::nullopt, ValueType::Boolean),
                       config(4, "float", Json(), ValueType::Float),
                       config(5, "string", Json::array(), ValueType::String),
                       config(6, "map", std::nullopt, ValueType::Map),
                       config(7, "untyped", std::nullopt, std::nullopt),
                       config(8, "decided", Json{{"k", 1}}, ValueType::Map),
                       config(9, "dup", Json(1), ValueType::Integer),
                       config(10, "dup", Json(2), ValueType::Integer),
                       share(experiment(11, "exp"))},
                      chain("darkmode overrides fractional_availability value"));
  std::map<std::string, std::string> values;
  for (const auto& [name, d] : get_all_values(engine, user("u1"))) {
    std::string type = d.value_type ? std::string(value_type_text(*d.value_type)) : "-";
    values.emplace(name, std::to_string(d.feature_id) + " " + d.variant_name.value_or("-") + " " +
                             json_debug(d.value) + " " + type + " " +
                             std::to_string(d.events.size()));
  }
  const std::map<std::string, std::string> expected = {
      {"disabled", "1 - Number(0) Integer 0"},  {"failing", "2 - String(\"\") Text 0"},
      {"bool", "3 - Bool(false) Boolean 0"},    {"float", "4 - Number(0.0) Float 0"},
      {"string", "5 - String(\"\") String 0"}, {"map", "6 - Object({}) Map 0"},
      {"untyped", "7 - Null - 0"},              {"decided", "8 - Object({\"k\": Number(1)}) Map 0"},
      {"dup", "10 - Number(2) Integer 0"},
  };
  EXPECT_EQ(values, expected);
}

}  // namespace
}  // namespace orvane
