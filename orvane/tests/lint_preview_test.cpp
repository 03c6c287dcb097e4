#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "lint/diff.h"
#include "lint/preview.h"

namespace orvane::lint {
namespace {

constexpr const char* kStages =
    "darkmode targeting overrides holdout mutex_group fractional_availability value";

// A split, a 10% rollout behind a 5% holdout, a targeted feature, a disabled one, one
// bucketed by an integer field and one that overrides with a variant it does not list.
constexpr const char* kConfig = R"({
  "split": {"id": 1, "name": "split", "enabled": true, "version": "1", "owner": "o",
    "type": "range_variant", "experiment": {"experiment_version": 1, "bucket_val": "user_id",
      "variants": [{"name": "control_1", "range_start": 0, "range_end": 0.5},
                   {"name": "treatment", "range_start": 0.5, "range_end": 1}]}},
  "hg": {"id": 2, "name": "hg", "enabled": true, "version": "1", "owner": "o",
    "type": "range_variant", "experiment": {"experiment_version": 1, "bucket_val": "user_id",
      "variants": [{"name": "holdout", "range_start": 0, "range_end": 0.05}]}},
  "rollout": {"id": 3, "name": "rollout", "enabled": true, "version": "1", "owner": "o",
    "type": "range_variant", "parent_hg_name": "hg",
    "experiment": {"experiment_version": 1, "bucket_val": "user_id",
      "variants": [{"name": "on", "range_start": 0, "range_end": 0.1}]}},
  "gated": {"id": 4, "name": "gated", "enabled": true, "version": "1", "owner": "o",
    "type": "range_variant", "experiment": {"experiment_version": 1, "bucket_val": "user_id",
      "targeting": {"EQ": {"field": "logged_in", "value": true}},
      "variants": [{"name": "on", "range_start": 0, "range_end": 1}]}},
  "off": {"id": 5, "name": "off", "enabled": false, "version": "1", "owner": "o",
    "type": "range_variant", "experiment": {"experiment_version": 1, "bucket_val": "user_id",
      "variants": [{"name": "on", "range_start": 0, "range_end": 1}]}},
  "builds": {"id": 6, "name": "builds", "enabled": true, "version": "1", "owner": "o",
    "type": "range_variant", "experiment": {"experiment_version": 1, "bucket_val": "build_number",
      "variants": [{"name": "on", "range_start": 0, "range_end": 0.3}]}},
  "forced": {"id": 7, "name": "forced", "enabled": true, "version": "1", "owner": "o",
    "type": "range_variant", "experiment": {"experiment_version": 1, "bucket_val": "user_id",
      "overrides": [{"ghost": {"EQ": {"field": "country_code", "value": "NZ"}}}],
      "variants": [{"name": "on", "range_start": 0, "range_end": 1}]}}
})";

Orvane engine() {
  Result<ExperimentConfig, JsonError> config = read_experiment_config(kConfig);
  EXPECT_TRUE(config.has_value());
  Result<Orvane, OrvaneInitError> built = engine_of(std::move(config).value(), kStages);
  EXPECT_TRUE(built.has_value());
  return std::move(built).value();
}

// Every answer by a label: the variant, "(no variant)", "(no decision)" or "error: text".
using Counts = std::map<std::string, uint64_t>;

Counts tally_counts(const PreviewTally& tally) {
  Counts out;
  for (const NamedCount& v : tally.variants) out[v.name] += v.count;
  if (tally.without_variant) out["(no variant)"] += tally.without_variant;
  for (const StopCount& s : tally.no_decision) out["(no decision)"] += s.count;
  for (const NamedCount& e : tally.errors) out["error: " + e.name] += e.count;
  return out;
}

Counts choose_counts(const Orvane& e, const std::string& feature, Context ctx, int n,
                     bool numbers) {
  Counts out;
  for (int i = 0; i < n; ++i) {
    if (numbers) {
      ctx.build_number = i;
    } else {
      ctx.user_id = "u" + std::to_string(i);
    }
    DecideResult decided = choose(e, feature, ctx, std::nullopt);
    if (!decided) {
      ++out["error: " + decided.error().display()];
    } else if (!*decided) {
      ++out["(no decision)"];
    } else if ((*decided)->variant_name) {
      ++out[*(*decided)->variant_name];
    } else {
      ++out["(no variant)"];
    }
  }
  return out;
}

TEST(Preview, CountsAreChoosesAnswers) {
  const Orvane e = engine();
  Context logged_in;
  logged_in.logged_in = true;
  Context in_nz;
  in_nz.country_code = "NZ";
  const struct {
    const char* feature;
    Context ctx;
    bool numbers;
  } kCases[] = {{"split", {}, false},       {"rollout", {}, false}, {"gated", {}, false},
                {"gated", logged_in, false}, {"off", {}, false},     {"builds", {}, true},
                {"forced", in_nz, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.feature);
    PreviewTally tally;
    tally_generated(e, *e.find_feature(c.feature), c.ctx, 0, 3000, tally);
    EXPECT_EQ(tally.total, 3000u);
    EXPECT_EQ(tally_counts(tally), choose_counts(e, c.feature, c.ctx, 3000, c.numbers));
  }
}

TEST(Preview, NoDecisionSaysWhichStageAndWhy) {
  const Orvane e = engine();
  Context logged_out;
  logged_out.logged_in = false;
  const struct {
    const char* feature;
    Context ctx;
    const char* stops;
  } kCases[] = {
      {"split", {}, ""},
      {"rollout", {}, "fractional_availability: bucket falls in no variant's range"},
      {"gated", logged_out, "targeting: targeting tree is false"},
      {"gated", {}, "targeting: targeting tree has no result (a field it reads is absent or "
                    "does not compare)"},
      {"off", {}, "darkmode: feature disabled"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.feature);
    PreviewTally tally;
    tally_generated(e, *e.find_feature(c.feature), c.ctx, 0, 500, tally);
    std::string stops;
    for (const StopCount& s : tally.no_decision) stops += s.stage + ": " + s.reason;
    EXPECT_EQ(stops, c.stops);
  }
}

TEST(Preview, BucketingCountsAgainstTheRanges) {
  const Orvane e = engine();
  EXPECT_EQ(range_buckets(*e.find_feature("split")), (std::vector<uint64_t>{500, 500, 0}));
  EXPECT_EQ(range_buckets(*e.find_feature("rollout")), (std::vector<uint64_t>{100, 900}));

  // The holdout group decides 5% before bucketing: those never reach the ranges.
  PreviewTally tally;
  tally_generated(e, *e.find_feature("rollout"), {}, 0, 20000, tally);
  ASSERT_EQ(tally.bucketed.size(), 2u);
  const uint64_t reached = tally.bucketed[0] + tally.bucketed[1];
  EXPECT_EQ(reached, tally.total - tally.without_variant);
  ASSERT_EQ(tally.variants.size(), 1u);
  EXPECT_EQ(tally.bucketed[0], tally.variants[0].count);
  EXPECT_NEAR(static_cast<double>(tally.without_variant) / 20000, 0.05, 0.01);
}

TEST(Preview, IdentifiersTheFieldCannotHoldAreCountedOnce) {
  const Orvane e = engine();
  PreviewTally tally;
  const std::vector<std::string_view> ids = {"12", "x", "y", "40"};
  tally_identifiers(e, *e.find_feature("builds"), {}, ids, tally);
  EXPECT_EQ(tally.total, 4u);
  ASSERT_EQ(tally.errors.size(), 1u);
  EXPECT_EQ(tally.errors[0].name, "identifier is not an integer, as build_number needs");
  EXPECT_EQ(tally.errors[0].count, 2u);
}

}  // namespace
}  // namespace orvane::lint
