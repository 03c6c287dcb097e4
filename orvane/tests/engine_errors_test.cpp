#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/decision.h"
#include "engine/orvane_error.h"
#include "engine/stage.h"

namespace orvane {
namespace {

ContextField field(const char* name) { return ContextField::from_name(name); }

TEST(OrvaneError, DisplayTexts) {
  struct Case {
    const char* name;
    OrvaneError error;
    const char* text;
  };
  const Case kCases[] = {
      {"not found", {errors::FeatureNotFound{}}, "Feature not found."},
      {"not found with name", {errors::FeatureNotFoundWithName{"my \"feat\""}},
       "Feature \"my \"feat\"\" not found."},
      {"not found, empty name", {errors::FeatureNotFoundWithName{""}}, "Feature \"\" not found."},
      {"invalid feature", {errors::InvalidFeature{}}, "Invalid Feature configuration."},
      {"bucket_val in config", {errors::MissingBucketValInConfig{}},
       "Missing \"bucket_val\" field in experiment config."},
      {"bucket_val in context", {errors::MissingBucketValInContext{field("user_id")}},
       "Missing field \"user_id\" in context for bucket_val = user_id"},
      {"bucket_val in context, other field",
       {errors::MissingBucketValInContext{field("team id")}},
       "Missing field \"team id\" in context for bucket_val = team id"},
      {"identifier mismatch",
       {errors::IdentifierTypeMismatch{field("user_id"), field("device_id")}},
       "Requested identifier_type: \"user_id\" is incompatible with experiment's bucket_val = "
       "device_id."},
      {"wrong context type, number",
       {errors::WrongContextValueType{field("build_number"), Json(2.5)}},
       "Incorrect value type number for context field \"build_number\"."},
      {"wrong context type, object",
       {errors::WrongContextValueType{field("plan"), Json::object()}},
       "Incorrect value type object for context field \"plan\"."},
      {"wrong context type, null", {errors::WrongContextValueType{field("plan"), Json()}},
       "Incorrect value type null for context field \"plan\"."},
      {"generic", {errors::Generic{"anything at all"}}, "anything at all"},
      {"missing variant set", {errors::MissingVariantSet{}}, "Missing variant_set"},
      {"value type mismatch", {errors::ValueTypeMismatch{}},
       "Dynamic Configuration Feature type mismatch."},
      {"number deserialization", {errors::NumberDeserialization{}},
       "Number deserialization failed."},
      {"malformed event",
       {errors::MalformedEvent{"out of range integral type conversion attempted"}},
       "Orvane returned malformed event: out of range integral type conversion attempted"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error.display(), c.text);
  }
}

TEST(NameToDecisionmaker, ResolvesExactNames) {
  struct Case {
    const char* name;
    Stage stage;
  };
  const Case kCases[] = {
      {"value", Stage::Value},
      {"locale", Stage::Locale},
      {"holdout", Stage::Holdout},
      {"darkmode", Stage::Darkmode},
      {"targeting", Stage::Targeting},
      {"overrides", Stage::Overrides},
      {"mutex_group", Stage::MutexGroup},
      {"fractional_availability", Stage::FractionalAvailability},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<Stage, std::string> stage = name_to_decisionmaker(c.name);
    ASSERT_TRUE(stage) << stage.error();
    EXPECT_EQ(*stage, c.stage);
  }
}

TEST(NameToDecisionmaker, RejectsOtherTexts) {
  struct Case {
    const char* name;
    std::string input;
    const char* text;
  };
  const Case kCases[] = {
      {"capital", "Value", "Invalid decisionmaker name: \"Value\""},
      {"empty", "", "Invalid decisionmaker name: \"\""},
      {"trailing blank", "darkmode ", "Invalid decisionmaker name: \"darkmode \""},
      {"blank instead of underscore", "mutex group",
       "Invalid decisionmaker name: \"mutex group\""},
      {"quote and backslash", "a\"b\\c", "Invalid decisionmaker name: \"a\\\"b\\\\c\""},
      {"tab and newline", "a\tb\n", "Invalid decisionmaker name: \"a\\tb\\n\""},
      {"control character", std::string("x\x01", 2), "Invalid decisionmaker name: \"x\\u{1}\""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<Stage, std::string> stage = name_to_decisionmaker(c.input);
    ASSERT_FALSE(stage);
    EXPECT_EQ(stage.error(), c.text);
  }
}

std::vector<std::string> golden_lines(const char* file) {
  std::ifstream in(std::string(ORVANE_TESTDATA_DIR) + "/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Decision, DebugText) {
  Decision full{
      .feature_id = 1,
      .feature_name = "f\"1",
      .feature_version = 2,
      .variant_name = "v",
      .value = Json{{"b", Json::array({1, 2.5})}, {"a", "x"}},
      .value_type = ValueType::Map,
      .event_data = {"0::::1::::f::::2::::v::::u1::::user_id::::0::::10::::o", "1::::x"},
      .events = {{EventKind::FracAvail, R"({"1":{"str":"experiment"}})"},
                 {EventKind::MutexGroup, "{}"}},
  };
  Decision bare{
      .feature_id = 4294967295u,
      .feature_name = "",
      .feature_version = 0,
      .variant_name = std::nullopt,
      .value = Json(),
      .value_type = std::nullopt,
      .event_data = {},
      .events = {},
  };
  Decision text_value{
      .feature_id = 7,
      .feature_name = "cfg",
      .feature_version = 3,
      .variant_name = std::nullopt,
      .value = Json("on"),
      .value_type = ValueType::Text,
      .event_data = {},
      .events = {{EventKind::Override, ""}, {EventKind::Holdout, "\\"}},
  };
  std::vector<std::string> expected = golden_lines("decision_debug.txt");
  ASSERT_EQ(expected.size(), 3u);
  EXPECT_EQ(decision_debug(full), expected[0]);
  EXPECT_EQ(decision_debug(bare), expected[1]);
  EXPECT_EQ(decision_debug(text_value), expected[2]);
  EXPECT_EQ(decision_debug_node(full).render(), expected[0]);
}

}  // namespace
}  // namespace orvane
