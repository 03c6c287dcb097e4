// Holdout and mutex groups that nest deeply or share their own groups: decisions stay
// linear in the configuration's size and never exhaust the stack.

#include <gtest/gtest.h>

#include <string>

#include "config/config_reader.h"
#include "engine/loader.h"
#include "engine_test_support.h"
#include "model/compile.h"

namespace orvane {
namespace {

using testing::chain;
using testing::experiment;
using testing::user;

// Records r0 .. r(n-1); ri names r(i+1) as its holdout group, and as its mutex group too
// when `both`. Every record buckets everyone into `control_1`.
FeatureList group_chain(int n, bool both) {
  std::vector<std::shared_ptr<const Feature>> built(static_cast<size_t>(n));
  for (int i = n - 1; i >= 0; --i) {
    Feature f = experiment(static_cast<uint32_t>(i), "r" + std::to_string(i), "control_1");
    if (i + 1 < n) {
      f.variant_set->holdout = built[static_cast<size_t>(i + 1)];
      if (both) f.variant_set->mutex_group = built[static_cast<size_t>(i + 1)];
    }
    built[static_cast<size_t>(i)] = std::make_shared<const Feature>(std::move(f));
  }
  return built;
}

TEST(Nesting, HoldoutChainHundredDeepDecides) {
  Orvane engine(group_chain(100, false), chain("holdout fractional_availability"));
  DecideResult result = decide(engine, *engine.features()[0], user("u1"));
  ASSERT_TRUE(result.has_value()) << result.error().display();
  ASSERT_TRUE(result->has_value());
  // Every level continues as control with its group's events before its own.
  EXPECT_EQ((*result)->events.size(), 100u);
  EXPECT_EQ((*result)->variant_name, "control_1");
}

TEST(Nesting, SharedGroupsAreDecidedInLinearTime) {
  // Each record reaches the next one twice (as holdout and as mutex group): deciding every
  // path afresh would take 2^60 runs.
  Orvane engine(group_chain(60, true), chain("holdout mutex_group fractional_availability"));
  DecideResult result = decide(engine, *engine.features()[0], user("u1"));
  ASSERT_TRUE(result.has_value()) << result.error().display();
  // r58's mutex group decides control_1, not r58, so r58 and everything above it stop.
  EXPECT_FALSE(result->has_value());
  DecideResult last = decide(engine, *engine.features()[59], user("u1"));
  ASSERT_TRUE(last.has_value() && last->has_value());
  EXPECT_EQ((*last)->variant_name, "control_1");
}

// One record of a generated configuration; `parents` adds the group members.
std::string record(int id, const std::string& name, const std::string& variants,
                   const std::string& parents, const char* bucket_val = "user_id") {
  return "\"" + name + "\":{\"id\":" + std::to_string(id) + ",\"name\":\"" + name +
         "\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\"," +
         "\"emit_event\":true,\"start_ts\":1,\"stop_ts\":2" + parents +
         ",\"experiment\":{\"experiment_version\":1,\"shuffle_version\":0,\"bucket_val\":\"" +
         bucket_val + "\",\"variants\":[" + variants + "]}}";
}

std::string ranges(const std::string& a, const std::string& b, const char* split = "0.5") {
  return "{\"name\":\"" + a + "\",\"range_start\":0.0,\"range_end\":" + split + "},{\"name\":\"" +
         b + "\",\"range_start\":" + split + ",\"range_end\":1.0}";
}

TEST(Nesting, ChooseAllAnswersAsEachDecisionAlone) {
  // Groups shared by many features, a group inside a group, and a group that fails for a
  // context without its bucketing field: choose_all decides each group once per request,
  // and every answer must still be the one the feature gets on its own.
  std::string doc = "{" + record(1, "hg", ranges("holdout", "control_1", "0.3"), "") + "," +
                    record(2, "hg_inner", ranges("holdout", "control_1", "0.2"),
                           ",\"parent_hg_name\":\"hg\"") + "," +
                    record(3, "mg", ranges("m0", "m1"), "") + "," +
                    record(4, "dg", ranges("holdout", "control_1"), "", "device_id");
  for (int i = 0; i < 24; ++i) {
    std::string parents;
    if (i % 4 == 0) parents = ",\"parent_hg_name\":\"hg\"";
    if (i % 4 == 1) parents = ",\"parent_hg_name\":\"hg_inner\"";
    if (i % 4 == 2) parents = ",\"parent_meg_name\":\"mg\",\"parent_hg_name\":\"hg\"";
    if (i % 4 == 3) parents = ",\"parent_hg_name\":\"dg\"";
    std::string name = i < 2 ? "m" + std::to_string(i) : "f" + std::to_string(i);
    doc += "," + record(10 + i, name, ranges("control_1", "treatment"), parents);
  }
  doc += "}";
  auto config = read_experiment_config(doc);
  ASSERT_TRUE(config) << config.error().display();
  auto features = experiment_config_to_features(std::move(config).value());
  ASSERT_TRUE(features) << features.error().display();
  auto engine = init("holdout mutex_group fractional_availability", std::move(features).value());
  ASSERT_TRUE(engine) << engine.error().display();

  auto answer = [](const DecideResult& result) -> std::string {
    if (!result) return "error " + result.error().display();
    if (!*result) return "none";
    std::string text = (*result)->variant_name.value_or("-") + " " + json_compact((*result)->value);
    for (const std::string& event : (*result)->events.texts()) text += " | " + event;
    return text;
  };
  size_t held = 0;
  size_t failed = 0;
  for (int u = 0; u < 40; ++u) {
    Context ctx = user(("user" + std::to_string(u)).c_str());
    auto all = choose_all(*engine, ctx, std::nullopt);
    ASSERT_EQ(all.size(), engine->features().size());
    for (const auto& feature : engine->features()) {
      std::string alone = answer(decide(*engine, *feature, ctx));
      const DecideResult* entry = all.find(feature->name);
      ASSERT_NE(entry, nullptr) << feature->name;
      EXPECT_EQ(answer(*entry), alone) << feature->name << " for user" << u;
      held += alone.find("::::holdout::::") != std::string::npos;
      failed += alone.rfind("error", 0) == 0;
    }
  }
  // The users must reach the interesting paths, or the comparison proves little.
  EXPECT_GT(held, 0u);
  EXPECT_GT(failed, 0u);
}

TEST(Nesting, TooDeepNestingFailsInsteadOfOverflowing) {
  Orvane engine(group_chain(kMaxGroupNesting + 50, false), chain("holdout fractional_availability"));
  DecideResult result = decide(engine, *engine.features()[0], user("u1"));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().display(), "Holdout and mutex groups nest deeper than 256 levels.");
  // Deep enough below the top, the same chain decides.
  DecideResult lower = decide(engine, *engine.features()[60], user("u1"));
  ASSERT_TRUE(lower.has_value()) << lower.error().display();
}

}  // namespace
}  // namespace orvane
