#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/json.h"
#include "engine/internal.h"
#include "lint/diff.h"

namespace orvane::lint {
namespace {

// An experiment "a" rolled out to 10% and a holdout group "hg" for it; cases patch them.
// Records come out in key order, as the patched documents are written.
constexpr const char* kLive = R"({
  "hg": {"id": 9, "name": "hg", "enabled": true, "version": "1", "owner": "o",
         "type": "range_variant",
         "experiment": {"experiment_version": 1, "bucket_val": "user_id",
           "variants": [{"name": "holdout", "range_start": 0.0, "range_end": 0.05}]}},
  "a": {"id": 1, "name": "a", "enabled": true, "version": "1", "owner": "o",
        "type": "range_variant", "parent_hg_name": "hg",
        "experiment": {"experiment_version": 1, "bucket_val": "user_id",
          "variants": [{"name": "on", "range_start": 0.0, "range_end": 0.1}]}}
})";

ExperimentConfig read(const Json& document) {
  Result<ExperimentConfig, JsonError> config = read_experiment_config(document.dump());
  EXPECT_TRUE(config.has_value()) << (config ? "" : config.error().display());
  return config ? std::move(config).value() : ExperimentConfig{};
}

Json patched(const char* patch) {
  Json document = Json::parse(kLive);
  document.merge_patch(Json::parse(patch));
  return document;
}

// "feature change [fields] reseeded moved/added" per feature, one line each.
std::string summary(const std::vector<FeatureDiff>& diffs) {
  std::string out;
  for (const FeatureDiff& d : diffs) {
    out += d.feature + " " + std::string(change_name(d.change)) + " [";
    for (size_t i = 0; i < d.fields.size(); ++i) out += (i ? "," : "") + d.fields[i];
    out += "]";
    if (d.reseeded) out += " reseeded";
    if (d.moved_buckets) {
      out += " " + std::to_string(d.moved_buckets->size()) + "/" + std::to_string(d.added_buckets.size());
    }
    out += "\n";
  }
  return out;
}

TEST(Diff, WhatEachEditMoves) {
  const struct {
    const char* name;
    const char* patch;
    const char* summary;
  } kCases[] = {
      {"nothing", "{}", "a unchanged [] 0/0\nhg unchanged [] 0/0\n"},
      {"raising 10% to 50% moves nobody already in",
       R"({"a": {"experiment": {"variants": [{"name": "on", "range_start": 0, "range_end": 0.5}]}}})",
       "a changed [variants] 0/400\nhg unchanged [] 0/0\n"},
      {"lowering 10% to 5%",
       R"({"a": {"experiment": {"variants": [{"name": "on", "range_start": 0, "range_end": 0.05}]}}})",
       "a changed [variants] 50/0\nhg unchanged [] 0/0\n"},
      {"a renamed variant moves its users",
       R"({"a": {"experiment": {"variants": [{"name": "enabled", "range_start": 0, "range_end": 0.1}]}}})",
       "a changed [variants] 100/0\nhg unchanged [] 0/0\n"},
      {"shuffle_version reseeds", R"({"a": {"experiment": {"shuffle_version": 1}}})",
       "a changed [shuffle_version] reseeded\nhg unchanged [] 0/0\n"},
      {"a new key with the same name is the same feature",
       R"({"a": null, "b": {"id": 1, "name": "a", "enabled": true, "version": "1", "owner": "o", "type": "range_variant", "parent_hg_name": "hg", "experiment": {"experiment_version": 1, "bucket_val": "user_id", "variants": [{"name": "on", "range_start": 0.0, "range_end": 0.1}]}}})",
       "a unchanged [] 0/0\nhg unchanged [] 0/0\n"},
      {"a changed group changes its members",
       R"({"hg": {"experiment": {"variants": [{"name": "holdout", "range_start": 0, "range_end": 0.1}]}}})",
       "a changed [holdout] 0/0\nhg changed [variants] 0/50\n"},
      {"added and removed", R"({"a": null, "c": {"id": 3, "name": "c", "enabled": true, "version": "1", "owner": "o", "type": "dynamic_config", "experiment": {"experiment_version": 1}}})",
       "c added []\nhg unchanged [] 0/0\na removed []\n"},
      {"targeting and the version text", R"({"a": {"version": "2", "experiment": {"targeting": {"EQ": {"field": "country_code", "value": "CA"}}}}})",
       "a changed [version,targeting] 0/0\nhg unchanged [] 0/0\n"},
  };
  const ExperimentConfig live = read(Json::parse(kLive));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(summary(diff_configs(live, read(patched(c.patch)))), c.summary);
  }
}

TEST(Diff, TellsTargetingEditsByTheirValues) {
  const ExperimentConfig before = read(patched(
      R"({"a": {"experiment": {"targeting": {"EQ": {"field": "country_code", "values": ["US", "GB"]}}}}})"));
  const ExperimentConfig after = read(patched(
      R"({"a": {"experiment": {"targeting": {"EQ": {"field": "country_code", "values": ["US", "CA"]}}}}})"));
  std::vector<FeatureDiff> diffs = diff_configs(before, after);
  ASSERT_EQ(diffs.size(), 2u);
  EXPECT_EQ(diffs[0].moves, std::vector<std::string>{
      "targeting: moves users who match country_code EQ [\"CA\"] (now in) or country_code EQ "
      "[\"GB\"] (now out)"});
}

// The buckets diff reports as moved, against the engine itself: users are decided by
// both versions until every bucket has been seen, and a bucket moves when its users' variant
// changes away from one they had.
TEST(Diff, MovedBucketsMatchAnExhaustiveCountOfDecisions) {
  const char* kEdits[] = {
      R"([{"name": "on", "range_start": 0.0, "range_end": 0.1}, {"name": "off", "range_start": 0.1, "range_end": 0.6}])",
      R"([{"name": "off", "range_start": 0.05, "range_end": 0.333}, {"name": "on", "range_start": 0.0, "range_end": 0.25}])",
      R"([{"name": "on", "range_start": 0.999, "range_end": 1.0}, {"name": "on", "range_start": 0.0, "range_end": 0.001}])",
      R"([{"name": "on", "range_start": 0.0, "range_end": 1000}])",
  };
  const std::string chain = "fractional_availability";
  for (const char* before : kEdits) {
    for (const char* after : kEdits) {
      SCOPED_TRACE(std::string(before) + " -> " + after);
      Json a = Json::parse(kLive);
      Json b = Json::parse(kLive);
      a["a"]["experiment"]["variants"] = Json::parse(before);
      b["a"]["experiment"]["variants"] = Json::parse(after);
      std::vector<FeatureDiff> diffs = diff_configs(read(a), read(b));
      ASSERT_EQ(diffs[0].feature, "a");
      ASSERT_TRUE(diffs[0].moved_buckets.has_value());
      std::set<uint16_t> reported(diffs[0].moved_buckets->begin(), diffs[0].moved_buckets->end());

      Result<Orvane, OrvaneInitError> old_engine = engine_of(read(a), chain);
      Result<Orvane, OrvaneInitError> new_engine = engine_of(read(b), chain);
      ASSERT_TRUE(old_engine && new_engine);
      const Feature& old_feature = *old_engine->find_feature("a");
      const Feature& new_feature = *new_engine->find_feature("a");
      std::map<uint16_t, std::pair<std::string, std::string>> seen;
      for (int i = 0; seen.size() < 1000 && i < 200000; ++i) {
        Context ctx;
        ctx.user_id = "u" + std::to_string(i);
        auto name = [](const InternalResult& r) {
          return r && *r && (*r)->variant_name ? std::string(*(*r)->variant_name) : std::string();
        };
        seen[bucket_of("1.a.0" + *ctx.user_id)] = {name(decide_internal(*old_engine, old_feature, ctx)),
                                                  name(decide_internal(*new_engine, new_feature, ctx))};
      }
      ASSERT_EQ(seen.size(), 1000u);
      std::set<uint16_t> counted;
      for (const auto& [bucket, names] : seen) {
        if (!names.first.empty() && names.first != names.second) counted.insert(bucket);
      }
      EXPECT_EQ(reported, counted);
    }
  }
}

}  // namespace
}  // namespace orvane::lint
