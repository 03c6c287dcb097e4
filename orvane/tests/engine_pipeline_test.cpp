#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "engine_test_support.h"

namespace orvane {
namespace {

using namespace testing;
using Setup = std::function<void(Feature&)>;

struct Case {
  const char* chain;
  Setup setup;
  const char* decision;
};

// Feature f (#7) is decided by its own bucketing into `all` unless a case stops it.
void run(const std::vector<Case>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    Feature f = experiment(7, "f");
    cases[i].setup(f);
    const Orvane engine({}, chain(cases[i].chain));
    EXPECT_EQ(internal_text(decide_internal(engine, f, user("u1"))), cases[i].decision)
        << "row " << i;
  }
}

// A group feature (#100 "g") bucketing every request into `variant`.
std::shared_ptr<const Feature> group(const char* variant, Setup more = {}) {
  Feature g = experiment(100, "g", variant);
  if (more) more(g);
  return share(std::move(g));
}
Setup holdout(std::shared_ptr<const Feature> g, Setup more = [](Feature&) {}) {
  return [=](Feature& f) { f.variant_set->holdout = g, more(f); };
}
Setup mutex(std::shared_ptr<const Feature> g) {
  return [=](Feature& f) { f.variant_set->mutex_group = g; };
}

TEST(Pipeline, HoldoutEventOrderAndLostEvents) {
  const char* kChain = "holdout fractional_availability value";
  auto valued = [](Feature& g) { g.value = Json(3), g.value_type = ValueType::Integer; };
  auto nested = [](Feature& g) { g.variant_set->holdout = group("control_1"); };
  run({
      {kChain, holdout(group("holdout", valued)), "f#7.2 - Number(3) Integer [2/g/holdout/u1]"},
      {kChain, holdout(group("holdout", [](Feature& g) { g.emit_event = false; })),
       "f#7.2 - Null - []"},
      {kChain, holdout(group("control_1")), "f#7.2 all Null - [2/g/control_1/u1 0/f/all/u1]"},
      {kChain, holdout(group("Holdout")), "f#7.2 all Null - [0/f/all/u1]"},
      {kChain, holdout(group("holdout", [](Feature& g) { g.variant_set->variants.clear(); })),
       "f#7.2 all Null - [0/f/all/u1]"},
      {kChain, holdout(share(dynamic_config(100, "g", Json(1), std::nullopt))),
       "f#7.2 all Null - [0/f/all/u1]"},
      {kChain, holdout(group("holdout", [](Feature& g) { g.variant_set->bucket_val.reset(); })),
       "error: Missing \"bucket_val\" field in experiment config."},
      // Only the first of the group's events is re-marked.
      {kChain, holdout(group("holdout", nested)),
       "f#7.2 - Null - [2/g/control_1/u1 0/g/holdout/u1]"},
      {"holdout holdout fractional_availability", holdout(group("control_1")),
       "f#7.2 all Null - [2/g/control_1/u1 2/g/control_1/u1 0/f/all/u1]"},
      {"holdout darkmode fractional_availability",
       holdout(group("control_1"), [](Feature& f) { f.enabled = false; }), "no decision"},
      {kChain, holdout(group("control_1"), [](Feature& f) { f.variant_set->bucket_val.reset(); }),
       "error: Missing \"bucket_val\" field in experiment config."},
      {kChain, holdout(group("control_1"), [](Feature& f) { f.variant_set->variants.clear(); }),
       "no decision"},
      {"", holdout(group("holdout")), "no decision"},
  });
}

TEST(Pipeline, MutexGroup) {
  const char* kChain = "mutex_group fractional_availability";
  run({
      {kChain, mutex(group("f")), "f#7.2 all Null - [3/g/f/u1 0/f/all/u1]"},
      {kChain, mutex(group("other")), "no decision"},
      {kChain, mutex(group("F")), "no decision"},
      {kChain, mutex(group("f", [](Feature& g) { g.variant_set->variants.clear(); })),
       "no decision"},
      {kChain, mutex(group("f", [](Feature& g) { g.variant_set->bucket_val.reset(); })),
       "error: Missing \"bucket_val\" field in experiment config."},
      {"mutex_group holdout fractional_availability",
       [](Feature& f) {
         f.variant_set->mutex_group = group("f");
         f.variant_set->holdout = group("control_1");
       },
       "f#7.2 all Null - [3/g/f/u1 2/g/control_1/u1 0/f/all/u1]"},
  });
}

// decision_debug with the clock and the random UUIDs blanked out.
std::string decide_text(const DecideResult& result) {
  if (!result) return "error: " + result.error().display();
  if (!*result) return "no decision";
  std::string text = std::regex_replace(decision_debug(**result),
                                        std::regex(R"(\\"i64\\":\d{13})"), R"(\"i64\":T)");
  const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  return std::regex_replace(text, uuid, "U");
}

TEST(Pipeline, DecideSerialisesEvents) {
  Feature f = experiment(7, "f");
  Feature silent = experiment(7, "f");
  silent.emit_event = false;
  silent.variant_set->stop_ts = uint64_t{1} << 63;
  Feature huge = experiment(7, "f");
  huge.variant_set->stop_ts = uint64_t{1} << 63;
  Feature config = dynamic_config(9, "cfg", Json("x"), ValueType::String);
  const Orvane engine({}, chain("fractional_availability value"));
  const std::string kHead =
      R"(Decision { feature_id: 7, feature_name: "f", feature_version: 2, )"
      R"(variant_name: Some("all"), value: Null, value_type: None, )";
  EXPECT_EQ(decide_text(decide(engine, f, user("u1"))),
            kHead +
                R"(event_data: ["0::::7::::f::::2::::all::::u1::::user_id::::0::::100::::o"], )"
                R"(events: [Event { kind: FracAvail, json: "{\"1\":{\"str\":\"experiment\"},)"
                R"(\"2\":{\"str\":\"expose\"},\"3\":{\"str\":\"user_id\"},\"5\":{\"i64\":T},)"
                R"(\"6\":{\"str\":\"U\"},\"8\":{\"str\":\"U\"},\"112\":{\"rec\":{\"1\":{\"str\":)"
                R"(\"u1\"}}},\"129\":{\"rec\":{\"1\":{\"i64\":7},\"2\":{\"str\":\"f\"},)"
                R"(\"3\":{\"str\":\"o\"},\"4\":{\"str\":\"all\"},\"5\":{\"i64\":0},)"
                R"(\"6\":{\"i64\":100},\"7\":{\"str\":\"user_id\"},\"8\":{\"str\":\"2\"},)"
                R"(\"9\":{\"str\":\"u1\"},\"10\":{\"tf\":0}}}}" }] })");
  EXPECT_EQ(decide_text(decide(engine, silent, user("u1"))),
            kHead + "event_data: [], events: [] }");
  EXPECT_EQ(decide_text(decide(engine, config, {})),
            R"(Decision { feature_id: 9, feature_name: "cfg", feature_version: 1, )"
            R"(variant_name: None, value: String("x"), value_type: Some(String), )"
            R"(event_data: [], events: [] })");
  EXPECT_EQ(decide_text(decide(engine, huge, user("u1"))),
            "error: Orvane returned malformed event: "
            "out of range integral type conversion attempted");
  EXPECT_EQ(decide_text(decide(engine, f, {})),
            "error: Missing field \"user_id\" in context for bucket_val = user_id");
  EXPECT_EQ(decide_text(decide(Orvane({}, {}), f, user("u1"))), "no decision");
}

}  // namespace
}  // namespace orvane
