// Holdout and mutex groups that nest deeply or share their own groups: decisions stay
// linear in the configuration's size and never exhaust the stack.

#include <gtest/gtest.h>

#include "engine_test_support.h"

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
  EXPECT_EQ((*result)->event_data.size(), 100u);
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
