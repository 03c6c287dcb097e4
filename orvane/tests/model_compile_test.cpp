#include <gtest/gtest.h>

#include "model/compile.h"

namespace orvane {
namespace {

Experiment record(std::string name, ExperimentType type = ExperimentType::RangeVariant) {
  Experiment e;
  e.id = 7;
  e.name = std::move(name);
  e.enabled = true;
  e.version = "ignored";
  e.owner = "owner";
  e.type = type;
  e.experiment.experiment_version = 3;
  return e;
}

Experiment with_parents(Experiment e, std::optional<std::string> hg,
                        std::optional<std::string> meg) {
  e.parent_hg_name = std::move(hg);
  e.parent_meg_name = std::move(meg);
  return e;
}

FeatureList compile_ok(ExperimentConfig config) {
  Result<FeatureList, OrvaneInitError> features = experiment_config_to_features(std::move(config));
  EXPECT_TRUE(features.has_value()) << (features ? "" : features.error().display());
  return features ? std::move(features).value() : FeatureList{};
}

TEST(Compile, CopiesRecordFields) {
  Experiment e = record("feature");
  e.start_ts = 10;
  e.stop_ts = 20;
  e.emit_event = true;
  e.value = Json::object({{"b", 1}});
  e.value_type = ValueType::Map;
  e.experiment.shuffle_version = 4;
  e.experiment.bucket_val = ContextField::from_name("device_id");
  e.experiment.variants = {{"a", 0.0f, 0.5f}};
  FeatureList features = compile_ok({{"key", e}});
  ASSERT_EQ(features.size(), 1u);
  const Feature& f = *features[0];
  EXPECT_EQ(f.name, "feature");
  EXPECT_EQ(f.version, 3u);  // from the inner record, whatever the version text says
  EXPECT_EQ(f.platform_bitmask, 0u);
  EXPECT_TRUE(f.emit_event);
  EXPECT_EQ(f.value, Json::object({{"b", 1}}));
  ASSERT_TRUE(f.variant_set);
  EXPECT_EQ(f.variant_set->start_ts, 10u);
  EXPECT_EQ(f.variant_set->stop_ts, 20u);
  EXPECT_EQ(f.variant_set->shuffle_version, 4u);
  EXPECT_EQ(f.variant_set->bucket_val, ContextField::from_name("device_id"));
  ASSERT_EQ(f.variant_set->variants.size(), 1u);
  EXPECT_EQ(f.variant_set->variants[0].name, "a");
  EXPECT_EQ(f.variant_set->holdout, nullptr);
}

TEST(Compile, DynamicConfigHasNoVariantSetEvenWithParents) {
  Experiment dc = with_parents(record("dc", ExperimentType::DynamicConfig), "hg", "hg");
  dc.value = 5;
  dc.value_type = ValueType::Integer;
  FeatureList features = compile_ok({{"hg", record("hg")}, {"dc", dc}});
  ASSERT_EQ(features.size(), 2u);
  EXPECT_FALSE(features[1]->variant_set);
  EXPECT_EQ(features[1]->value, Json(5));
  EXPECT_EQ(features[1]->value_type, ValueType::Integer);
}

TEST(Compile, EmptyDocumentGivesNoFeatures) { EXPECT_TRUE(compile_ok({}).empty()); }

TEST(Compile, ParentsResolveByKeyToAnyDepth) {
  // key "top" names record "top_name": parents are found by key, not by name.
  FeatureList features = compile_ok({
      {"child", with_parents(record("child"), "top", "meg")},
      {"top", with_parents(record("top_name"), "root", std::nullopt)},
      {"root", record("root")},
      {"meg", record("meg")},
  });
  ASSERT_EQ(features.size(), 4u);
  const VariantSet& set = *features[0]->variant_set;
  ASSERT_NE(set.holdout, nullptr);
  EXPECT_EQ(set.holdout->name, "top_name");
  ASSERT_NE(set.holdout->variant_set->holdout, nullptr);
  EXPECT_EQ(set.holdout->variant_set->holdout->name, "root");
  ASSERT_NE(set.mutex_group, nullptr);
  EXPECT_EQ(set.mutex_group->name, "meg");
  // The parent is also a top-level feature of its own, and one object serves both.
  EXPECT_EQ(set.holdout.get(), features[1].get());
}

TEST(Compile, DanglingParentNamesAreIgnored) {
  FeatureList features = compile_ok({{"a", with_parents(record("a"), "nope", "")}});
  ASSERT_EQ(features.size(), 1u);
  EXPECT_EQ(features[0]->variant_set->holdout, nullptr);
  EXPECT_EQ(features[0]->variant_set->mutex_group, nullptr);
}

TEST(Compile, ParentCyclesFailWithTheirPath) {
  struct Case {
    const char* name;
    ExperimentConfig config;
    const char* error;
  };
  const Case kCases[] = {
      {"self", {{"a", with_parents(record("a"), "a", std::nullopt)}},
       "Parent cycle: \"a\" -> \"a\""},
      {"two", {{"a", with_parents(record("a"), std::nullopt, "b")},
               {"b", with_parents(record("b"), "a", std::nullopt)}},
       "Parent cycle: \"a\" -> \"b\" -> \"a\""},
      {"three behind a tail",
       {{"tail", with_parents(record("tail"), "x", std::nullopt)},
        {"x", with_parents(record("x"), "y", std::nullopt)},
        {"y", with_parents(record("y"), std::nullopt, "z")},
        {"z", with_parents(record("z"), "x", std::nullopt)}},
       "Parent cycle: \"x\" -> \"y\" -> \"z\" -> \"x\""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<FeatureList, OrvaneInitError> features = experiment_config_to_features(c.config);
    ASSERT_FALSE(features.has_value());
    EXPECT_EQ(features.error().display(), c.error);
  }
}

TEST(Compile, SharedParentIsHeldOnce) {
  ExperimentConfig config{{"hg", record("hg")}};
  for (int i = 0; i < 10000; ++i) {
    config.emplace_back("e" + std::to_string(i),
                        with_parents(record("e" + std::to_string(i)), "hg", std::nullopt));
  }
  FeatureList features = compile_ok(std::move(config));
  ASSERT_EQ(features.size(), 10001u);
  // Every child points at the one compiled parent instead of a copy of it.
  EXPECT_EQ(features[0].use_count(), 10001);
  EXPECT_EQ(features[10000]->variant_set->holdout.get(), features[0].get());
}

TEST(Compile, LongParentChainsDoNotRecurse) {
  ExperimentConfig config;
  const int kDepth = 200000;
  for (int i = 0; i < kDepth; ++i) {
    std::optional<std::string> parent;
    if (i + 1 < kDepth) parent = "r" + std::to_string(i + 1);
    config.emplace_back("r" + std::to_string(i),
                        with_parents(record("r" + std::to_string(i)), parent, std::nullopt));
  }
  FeatureList features = compile_ok(std::move(config));
  ASSERT_EQ(features.size(), static_cast<size_t>(kDepth));
  EXPECT_EQ(features[0]->variant_set->holdout->name, "r1");
}

}  // namespace
}  // namespace orvane
