// Chains of 200,000 holdout or mutex groups, generated in both directions: every walk over
// parents (reading, compiling, deciding, explaining, checking, diffing, collecting the
// batch fields, freeing) must get through them without exhausting the stack.

#include <gtest/gtest.h>

#include <string>

#include "batch/assign.h"
#include "config/config_reader.h"
#include "engine/explain.h"
#include "engine/loader.h"
#include "engine_test_support.h"
#include "lint/check.h"
#include "lint/diff.h"
#include "model/compile.h"

namespace orvane {
namespace {

// Under AddressSanitizer frames are larger, so a shorter chain overflows an unbounded
// recursion just as surely, and the run stays short.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRecords = 50'000;
#else
constexpr int kRecords = 200'000;
#endif

struct Shape {
  const char* label;
  const char* parent_member;  // "parent_hg_name" or "parent_meg_name"
  bool forward;               // f(i) names f(i+1); otherwise f(i) names f(i-1)
  bool lint;                  // also check and diff it (seconds each, so not every shape)
};

// f0 .. f(n-1), each bucketing on user_id with "holdout" [0, 0.1) and "a" [0.1, 1).
std::string chain_document(const Shape& shape) {
  std::string doc = "{";
  doc.reserve(static_cast<size_t>(kRecords) * 300);
  for (int i = 0; i < kRecords; ++i) {
    std::string name = "f" + std::to_string(i);
    int parent = shape.forward ? i + 1 : i - 1;
    if (i > 0) doc += ',';
    doc += "\"" + name + "\":{\"id\":" + std::to_string(i + 1) + ",\"name\":\"" + name +
           "\",\"enabled\":true,\"version\":\"1\",\"owner\":\"o\",\"type\":\"range_variant\"," +
           "\"emit_event\":false,\"start_ts\":0,\"stop_ts\":0";
    if (parent >= 0 && parent < kRecords) {
      doc += ",\"" + std::string(shape.parent_member) + "\":\"f" + std::to_string(parent) + "\"";
    }
    doc += ",\"experiment\":{\"experiment_version\":1,\"shuffle_version\":0,"
           "\"bucket_val\":\"user_id\",\"variants\":[{\"name\":\"holdout\",\"range_start\":0,"
           "\"range_end\":0.1},{\"name\":\"a\",\"range_start\":0.1,\"range_end\":1}]}}";
  }
  return doc + "}";
}

class GroupChains : public ::testing::TestWithParam<Shape> {};

TEST_P(GroupChains, EveryWalkOverParentsGetsThrough) {
  const std::string doc = chain_document(GetParam());
  auto config = read_experiment_config(doc);
  ASSERT_TRUE(config) << config.error().display();
  auto features = experiment_config_to_features(std::move(config).value());
  ASSERT_TRUE(features) << features.error().display();
  auto engine = init("holdout mutex_group fractional_availability", std::move(features).value());
  ASSERT_TRUE(engine) << engine.error().display();

  // The deep end stops at the nesting limit with its text; the shallow end decides.
  const std::string deep = GetParam().forward ? "f0" : "f" + std::to_string(kRecords - 1);
  const std::string shallow = GetParam().forward ? "f" + std::to_string(kRecords - 1) : "f0";
  Context ctx = testing::user("u1");
  DecideResult deep_result = decide(*engine, *engine->find_feature(deep), ctx);
  ASSERT_FALSE(deep_result.has_value());
  EXPECT_EQ(deep_result.error().display(), "Holdout and mutex groups nest deeper than 256 levels.");
  EXPECT_TRUE(decide(*engine, *engine->find_feature(shallow), ctx).has_value());

  Explanation explained = explain(*engine, deep, ctx, std::nullopt);
  EXPECT_EQ(explained.error, deep_result.error().display());
  EXPECT_FALSE(explanation_json(explained).empty());

  EXPECT_TRUE(other_fields_read(*engine).empty());

  if (!GetParam().lint) return;  // leaving frees the engine, a walk of its own
  auto report = lint::check_config(doc, {.stages = std::nullopt, .now_ms = 0});
  ASSERT_TRUE(report);
  EXPECT_EQ(report->records, static_cast<size_t>(kRecords));

  auto diffs = lint::diff_configs(*read_experiment_config(doc), *read_experiment_config(doc));
  ASSERT_EQ(diffs.size(), static_cast<size_t>(kRecords));
  EXPECT_EQ(diffs.front().change, lint::Change::Unchanged);
  // Leaving the test frees the engine, which walks the chain once more.
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, GroupChains,
    ::testing::Values(Shape{"holdout_forward", "parent_hg_name", true, false},
                      Shape{"holdout_backward", "parent_hg_name", false, true},
                      Shape{"mutex_forward", "parent_meg_name", true, false},
                      Shape{"mutex_backward", "parent_meg_name", false, true}),
    [](const auto& shape) { return std::string(shape.param.label); });

}  // namespace
}  // namespace orvane
