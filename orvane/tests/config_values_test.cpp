#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "config/config_reader.h"

namespace orvane {
namespace {

ExperimentConfig read_records() {
  int fd = ::open(ORVANE_TESTDATA_DIR "/config/records.json", O_RDONLY);
  EXPECT_GE(fd, 0);
  Result<ExperimentConfig, JsonError> read = read_experiment_config_fd(fd);
  ::close(fd);
  EXPECT_TRUE(read.has_value()) << read.error().display();
  return read ? std::move(read).value() : ExperimentConfig{};
}

const Experiment& record(const ExperimentConfig& config, const std::string& key) {
  for (const auto& [name, experiment] : config) {
    if (name == key) return experiment;
  }
  ADD_FAILURE() << "no record " << key;
  static const Experiment kNone;
  return kNone;
}

TEST(ConfigValues, KeysKeepFirstAppearanceAndALaterRecordReplacesTheEarlier) {
  ExperimentConfig config = read_records();
  ASSERT_EQ(config.size(), 4u);
  EXPECT_EQ(config[0].first, "defaults");
  EXPECT_EQ(config[1].first, "nulls");
  EXPECT_EQ(config[2].first, "full");
  EXPECT_EQ(config[3].first, "array");
  EXPECT_EQ(config[0].second.id, 7u);
  EXPECT_EQ(config[0].second.name, "d");
  EXPECT_EQ(config[0].second.experiment.experiment_version, 3u);
}

TEST(ConfigValues, AbsentAndNullKeysTakeTheirDefaults) {
  ExperimentConfig config = read_records();
  for (const char* key : {"defaults", "nulls"}) {
    SCOPED_TRACE(key);
    const Experiment& e = record(config, key);
    EXPECT_FALSE(e.emit_event);
    EXPECT_EQ(e.start_ts, 0u);
    EXPECT_EQ(e.stop_ts, 0u);
    EXPECT_FALSE(e.value.has_value());
    EXPECT_FALSE(e.value_type.has_value());
    EXPECT_FALSE(e.parent_meg_name.has_value());
    EXPECT_FALSE(e.parent_hg_name.has_value());
    EXPECT_TRUE(e.experiment.variants.empty());
    EXPECT_EQ(e.experiment.shuffle_version, 0u);
    EXPECT_FALSE(e.experiment.bucket_val.has_value());
    EXPECT_FALSE(e.experiment.overrides.has_value());
    EXPECT_FALSE(e.experiment.targeting.has_value());
  }
  EXPECT_EQ(record(config, "nulls").type, ExperimentType::FeatureRollout);
  EXPECT_EQ(record(config, "defaults").type, ExperimentType::DynamicConfig);
}

TEST(ConfigValues, EveryKeyOfAFullRecord) {
  ExperimentConfig config = read_records();
  const Experiment& e = record(config, "full");
  EXPECT_EQ(e.id, 4294967295u);
  EXPECT_EQ(e.owner, "team");
  EXPECT_FALSE(e.enabled);
  EXPECT_EQ(e.type, ExperimentType::RangeVariant);
  EXPECT_TRUE(e.emit_event);
  EXPECT_EQ(e.start_ts, 9223372036854775808u);
  EXPECT_EQ(e.stop_ts, 18446744073709551615u);
  ASSERT_TRUE(e.value.has_value());
  EXPECT_EQ(json_compact(*e.value), R"({"a":"y","b":[1,-2,2.5,-0.0]})");
  EXPECT_EQ(e.value_type, ValueType::Text);
  EXPECT_EQ(e.parent_meg_name, "m");
  EXPECT_EQ(e.parent_hg_name, "h");
  const InnerExperiment& inner = e.experiment;
  EXPECT_EQ(inner.experiment_version, 3u);
  EXPECT_EQ(inner.shuffle_version, 2u);
  ASSERT_TRUE(inner.bucket_val.has_value());
  EXPECT_TRUE(inner.bucket_val->is_other());
  EXPECT_EQ(inner.bucket_val->name(), "USER_ID");
  ASSERT_EQ(inner.variants.size(), 2u);
  EXPECT_EQ(inner.variants[0].name, "c");
  EXPECT_EQ(inner.variants[0].range_start, 0.0f);
  EXPECT_EQ(inner.variants[0].range_end, 0.1f);
  EXPECT_EQ(inner.variants[1].name, "t");
  EXPECT_EQ(inner.variants[1].range_start, 500.0f);
  EXPECT_EQ(inner.variants[1].range_end, 1000.5f);
}

TEST(ConfigValues, OverridesKeepTheLaterTreeForARepeatedVariant) {
  ExperimentConfig config = read_records();
  const auto& overrides = record(config, "full").experiment.overrides;
  ASSERT_TRUE(overrides.has_value());
  ASSERT_EQ(overrides->size(), 1u);
  const OverrideMap& map = overrides->front();
  ASSERT_EQ(map.size(), 1u);
  const EqNode* eq = std::get_if<EqNode>(&map.at("t").node);
  ASSERT_NE(eq, nullptr);
  const EqMany* many = std::get_if<EqMany>(&eq->eq);
  ASSERT_NE(many, nullptr);
  EXPECT_EQ(many->field.name(), "user_id");
  ASSERT_EQ(many->values.size(), 2u);
  EXPECT_EQ(json_compact(many->values[1]), R"("b")");
}

TEST(ConfigValues, TargetingTreeShapes) {
  ExperimentConfig config = read_records();
  const auto& targeting = record(config, "full").experiment.targeting;
  ASSERT_TRUE(targeting.has_value());
  const AllNode* all = std::get_if<AllNode>(&targeting->node);
  ASSERT_NE(all, nullptr);
  ASSERT_EQ(all->children.size(), 7u);

  // EQ: the (field, value) shape wins whenever it fits; otherwise (field, values).
  struct EqCase {
    size_t child;
    const char* field;
    bool one;
    const char* value;
  };
  const EqCase kEq[] = {{0, "country_code", true, R"("US")"},
                        {1, "locale", true, R"(["en"])"},
                        {2, "other", false, "[1,null]"}};
  for (const EqCase& c : kEq) {
    SCOPED_TRACE(c.field);
    const EqNode* eq = std::get_if<EqNode>(&all->children[c.child].node);
    ASSERT_NE(eq, nullptr);
    if (c.one) {
      const EqOne* one = std::get_if<EqOne>(&eq->eq);
      ASSERT_NE(one, nullptr);
      EXPECT_EQ(one->field.name(), c.field);
      EXPECT_EQ(json_compact(one->value), c.value);
    } else {
      const EqMany* many = std::get_if<EqMany>(&eq->eq);
      ASSERT_NE(many, nullptr);
      EXPECT_EQ(many->field.name(), c.field);
      EXPECT_EQ(json_compact(Json(many->values)), c.value);
    }
  }

  const NotNode* negation = std::get_if<NotNode>(&all->children[3].node);
  ASSERT_NE(negation, nullptr);
  const NeNode* ne = std::get_if<NeNode>(&negation->child->node);
  ASSERT_NE(ne, nullptr);
  EXPECT_EQ(ne->field.kind(), FixedField::AppName);
  EXPECT_EQ(json_compact(ne->value), R"({"k":1})");

  struct CompareCase {
    size_t child;
    Comp op;
    FixedField field;
    double value;
  };
  const CompareCase kCompare[] = {{4, Comp::Gt, FixedField::BuildNumber, 3.0},
                                  {5, Comp::Le, FixedField::LoidCreatedTimestamp, 2.5}};
  for (const CompareCase& c : kCompare) {
    SCOPED_TRACE(c.child);
    const CompareNode* compare = std::get_if<CompareNode>(&all->children[c.child].node);
    ASSERT_NE(compare, nullptr);
    EXPECT_EQ(compare->op, c.op);
    EXPECT_EQ(compare->field.kind(), c.field);
    EXPECT_EQ(compare->value, c.value);
  }
  const AnyNode* any = std::get_if<AnyNode>(&all->children[6].node);
  ASSERT_NE(any, nullptr);
  EXPECT_TRUE(any->children.empty());
}

TEST(ConfigValues, RecordsWrittenAsArrays) {
  ExperimentConfig config = read_records();
  const Experiment& e = record(config, "array");
  EXPECT_EQ(e.id, 2u);
  EXPECT_EQ(e.name, "arr");
  EXPECT_EQ(json_compact(e.value.value_or(Json())), "7");
  EXPECT_EQ(e.value_type, ValueType::Map);
  EXPECT_EQ(e.experiment.experiment_version, 9u);
  ASSERT_EQ(e.experiment.variants.size(), 1u);
  EXPECT_EQ(e.experiment.variants[0].name, "v");
  EXPECT_EQ(e.experiment.variants[0].range_end, 1.0f);
  EXPECT_EQ(e.experiment.shuffle_version, 4u);
  ASSERT_TRUE(e.experiment.bucket_val.has_value());
  EXPECT_EQ(e.experiment.bucket_val->kind(), FixedField::DeviceId);
}

}  // namespace
}  // namespace orvane
