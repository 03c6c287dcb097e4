#include <gtest/gtest.h>

#include <functional>

#include "engine_test_support.h"

namespace orvane {
namespace {

using namespace testing;
using Setup = std::function<void(Feature&)>;

struct Case {
  Stage stage;
  Setup setup;
  Context ctx;
  const char* outcome;
};

void run(const std::vector<Case>& cases) {
  const Orvane engine({}, {});
  for (size_t i = 0; i < cases.size(); ++i) {
    Feature f = experiment(7, "f");
    cases[i].setup(f);
    EXPECT_EQ(outcome_text(run_stage(cases[i].stage, engine, f, cases[i].ctx)), cases[i].outcome)
        << "row " << i;
  }
}

Setup value(std::optional<Json> v, std::optional<ValueType> t) {
  return [=](Feature& f) { f.value = v, f.value_type = t; };
}
Setup overrides(std::vector<OverrideMap> maps, Setup more = [](Feature&) {}) {
  return [=](Feature& f) { f.overrides = maps, more(f); };
}
Setup variants(std::vector<Variant> list, const char* field = "user_id") {
  return [=](Feature& f) {
    f.variant_set->variants = list;
    f.variant_set->bucket_val = ContextField::from_name(field);
  };
}
// One bucket wide, so only the right seed decides. The buckets were computed independently
// as SHA-1 of the seed modulo 1000: 7.f.1u1 -> 635, 7.f.112345 -> 818, 7.f.1true -> 313,
// 7.f.1{"a":1} -> 706, 7.f.1null -> 835.
Setup window(float bucket, const char* field) {
  return variants({{"below", 0.0f, bucket / 1000}, {"hit", bucket / 1000, (bucket + 1) / 1000}},
                  field);
}

TEST(Stages, DarkmodeLocaleTargetingValue) {
  auto off = [](Feature& f) { f.enabled = false; };
  auto keep = [](Feature&) {};
  auto targeted = [](const char* field) {
    return [=](Feature& f) { f.targeting = eq(field, "u1"); };
  };
  run({
      {Stage::Darkmode, keep, {}, "Pass darkmode:enabled"},
      {Stage::Darkmode, off, {}, "NoDecision"},
      {Stage::Locale, keep, {}, "Pass locale:fixme2"},
      {Stage::Locale, off, {}, "Pass locale:fixme"},
      {Stage::Targeting, keep, {}, "Pass targeting:none_found"},
      {Stage::Targeting, targeted("user_id"), user("u1"), "Pass targeting:targeted"},
      {Stage::Targeting, targeted("user_id"), user("u2"), "NoDecision"},
      {Stage::Targeting, targeted("device_id"), user("u1"), "NoDecision"},
      {Stage::Value, keep, {}, "NoDecision"},
      {Stage::Value, value(Json(), ValueType::Integer), {}, "Pass value:null_or_array"},
      {Stage::Value, value(Json::array(), std::nullopt), {}, "Pass value:null_or_array"},
      {Stage::Value, value(Json::object(), ValueType::Map), {}, "f#7.2 - Object({}) Map []"},
      {Stage::Value, value(Json(false), ValueType::Boolean), {}, "f#7.2 - Bool(false) Boolean []"},
      {Stage::Value, value(Json("x"), std::nullopt), {}, "f#7.2 - String(\"x\") - []"},
  });
}

TEST(Stages, Overrides) {
  const TargetingTree yes = eq("user_id", "u1"), no = eq("user_id", "u2");
  const TargetingTree unknown = eq("device_id", "d");
  run({
      {Stage::Overrides, [](Feature&) {}, user("u1"), "Pass overrides:none_found"},
      {Stage::Overrides, overrides({{}, {{"a", no}}}), user("u1"), "Pass overrides:none_hit"},
      {Stage::Overrides, overrides({{{"a", no}, {"b", yes}}}), user("u1"),
       "f#7.2 b String(\"b\") String [1/f/b/u1]"},
      {Stage::Overrides, overrides({{{"b", yes}}, {{"a", yes}}}), user("u1"),
       "f#7.2 b String(\"b\") String [1/f/b/u1]"},
      {Stage::Overrides, overrides({{{"a", unknown}, {"b", yes}}}), user("u1"), "Pass t.eval:err"},
      {Stage::Overrides, overrides({{{"a", no}}, {{"b", unknown}}, {{"c", yes}}}), user("u1"),
       "Pass t.eval:err"},
      {Stage::Overrides, overrides({{{"a", yes}}}, [](Feature& f) { f.emit_event = false; }),
       user("u1"), "f#7.2 a String(\"a\") String []"},
      {Stage::Overrides, overrides({{{"a", yes}}}, [](Feature& f) { f.variant_set.reset(); }),
       user("u1"), "error: Missing variant_set"},
      {Stage::Overrides, overrides({{{"a", yes}}}, variants({}, "device_id")), user("u1"),
       "error: Missing \"bucket_val\" field in experiment config."},
  });
}

TEST(Stages, MakeEventFillsEveryField) {
  Feature f = experiment(7, "f");
  const Context ctx = user("u1");  // the event borrows the identifier from it
  auto event = make_event(f, EventKind::Override, "v", ctx);
  ASSERT_TRUE(event && *event);
  EXPECT_EQ(compact_text(**event), "1::::7::::f::::2::::v::::u1::::user_id::::0::::100::::o");
  f.variant_set->bucket_val.reset();
  auto failed = make_event(f, EventKind::FracAvail, "v", ctx);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().display(), "Missing \"bucket_val\" field in experiment config.");
}

TEST(Stages, FractionalAvailability) {
  Context typed;
  typed.build_number = 12345;
  typed.other_fields = JsonObject{{"flag", true}, {"obj", {{"a", 1}}}, {"nil", nullptr}};
  run({
      {Stage::FractionalAvailability, [](Feature& f) { f.variant_set.reset(); }, {},
       "Pass frac_avail:no variant_set"},
      {Stage::FractionalAvailability, [](Feature& f) { f.variant_set->bucket_val.reset(); },
       user("u1"), "error: Missing \"bucket_val\" field in experiment config."},
      {Stage::FractionalAvailability, [](Feature&) {}, {},
       "error: Missing field \"user_id\" in context for bucket_val = user_id"},
      {Stage::FractionalAvailability, variants({}, "team"), user("u1"),
       "error: Missing field \"team\" in context for bucket_val = team"},
      {Stage::FractionalAvailability, [](Feature& f) { f.emit_event = false; }, user("u1"),
       "f#7.2 all Null - []"},
      {Stage::FractionalAvailability, variants({{"lo", 0, 0.635f}, {"hi", 0.636f, 1}}),
       user("u1"), "Pass frac_avail:not in variants"},
      {Stage::FractionalAvailability, variants({{"lo", 0, 0.635f}, {"hi", 0.635f, 1}}),
       user("u1"), "f#7.2 hi Null - [0/f/hi/u1]"},
      {Stage::FractionalAvailability, variants({{"first", 0.6f, 0.7f}, {"second", 0, 1}}),
       user("u1"), "f#7.2 first Null - [0/f/first/u1]"},
      {Stage::FractionalAvailability, window(635, "user_id"), user("u1"),
       "f#7.2 hit Null - [0/f/hit/u1]"},
      {Stage::FractionalAvailability, window(818, "build_number"), typed,
       "f#7.2 hit Null - [0/f/hit/12345]"},
      {Stage::FractionalAvailability, window(313, "flag"), typed,
       "f#7.2 hit Null - [0/f/hit/true]"},
      {Stage::FractionalAvailability, window(706, "obj"), typed,
       "f#7.2 hit Null - [0/f/hit/{\"a\":1}]"},
      {Stage::FractionalAvailability, window(835, "nil"), typed,
       "f#7.2 hit Null - [0/f/hit/null]"},
  });
}

TEST(Stages, WorkedBucketingExample) {
  Feature f = experiment(42, "my_feature");
  f.variant_set->shuffle_version = 3;
  f.variant_set->variants = {{"control_1", 0, 0.25f}, {"treatment", 0.25f, 0.5f},
                             {"treatment_2", 0.5f, 0.75f}};
  const Orvane engine({}, {});
  auto decide_here = [&] {
    return outcome_text(run_stage(Stage::FractionalAvailability, engine, f, user("u1234")));
  };
  EXPECT_EQ(decide_here(), "my_feature#42.2 treatment_2 Null - [0/my_feature/treatment_2/u1234]");
  f.version = 9;  // not part of the seed
  EXPECT_EQ(decide_here(), "my_feature#42.9 treatment_2 Null - [0/my_feature/treatment_2/u1234]");
  f.variant_set->variants.pop_back();
  EXPECT_EQ(decide_here(), "Pass frac_avail:not in variants");
}


TEST(Stages, SeedOfAnyLengthBucketsLikeTheReference) {
  // One variant per bucket, so the variant names the bucket. The expected buckets are
  // SHA-1 of "7.seed_probe.1" + identifier, modulo 1000, computed with Python's hashlib;
  // the lengths straddle the point where the seed no longer fits the stack.
  Feature f = experiment(7, "seed_probe");
  f.variant_set->shuffle_version = 1;
  f.variant_set->variants.clear();
  for (int b = 0; b < 1000; ++b) {
    f.variant_set->variants.push_back({"b" + std::to_string(b), static_cast<float>(b) / 1000.0f,
                                       static_cast<float>(b + 1) / 1000.0f});
  }
  const Orvane engine({}, {});
  struct SeedCase {
    std::string identifier;
    int bucket;
  };
  const SeedCase cases[] = {{"u", 663},
                        {std::string(224, 'u'), 735},
                        {std::string(225, 'u'), 530},
                        {std::string(1000, 'u'), 137}};
  for (const SeedCase& c : cases) {
    SCOPED_TRACE(c.identifier.size());
    StageResult result = run_stage(Stage::FractionalAvailability, engine, f, user(c.identifier.c_str()));
    ASSERT_TRUE(result);
    const auto* decided = std::get_if<outcome::Decided>(&*result);
    ASSERT_NE(decided, nullptr);
    EXPECT_EQ(decided->decision.variant_name, "b" + std::to_string(c.bucket));
  }

  // An identifier from other_fields is spelled as its JSON text, strings unquoted.
  f.variant_set->bucket_val = ContextField::from_name("team");
  const std::pair<Json, int> others[] = {{Json(12345), 263}, {Json(true), 145}};
  for (const auto& [value, bucket] : others) {
    SCOPED_TRACE(json_compact(value));
    Context ctx;
    ctx.other_fields = JsonObject{{"team", value}};
    StageResult result = run_stage(Stage::FractionalAvailability, engine, f, ctx);
    ASSERT_TRUE(result);
    const auto* decided = std::get_if<outcome::Decided>(&*result);
    ASSERT_NE(decided, nullptr);
    EXPECT_EQ(decided->decision.variant_name, "b" + std::to_string(bucket));
  }
}
}  // namespace
}  // namespace orvane
