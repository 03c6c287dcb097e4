#include <gtest/gtest.h>

#include <fstream>

#include "engine/decision.h"
#include "engine/orvane_error.h"
#include "engine/stage.h"

namespace orvane {
namespace {

ContextField field(const char* name) { return ContextField::from_name(name); }

TEST(OrvaneError, DisplayTexts) {
  using namespace errors;
  const std::pair<OrvaneError, const char*> kCases[] = {
      {{FeatureNotFound{}}, "Feature not found."},
      {{FeatureNotFoundWithName{"a \"b\""}}, "Feature \"a \"b\"\" not found."},
      {{InvalidFeature{}}, "Invalid Feature configuration."},
      {{MissingBucketValInConfig{}}, "Missing \"bucket_val\" field in experiment config."},
      {{MissingBucketValInContext{field("user_id")}},
       "Missing field \"user_id\" in context for bucket_val = user_id"},
      {{IdentifierTypeMismatch{field("user_id"), field("team")}},
       "Requested identifier_type: \"user_id\" is incompatible with experiment's bucket_val = "
       "team."},
      {{WrongContextValueType{field("plan"), Json::object()}},
       "Incorrect value type object for context field \"plan\"."},
      {{WrongContextValueType{field("build_number"), Json(2.5)}},
       "Incorrect value type number for context field \"build_number\"."},
      {{Generic{"as given"}}, "as given"},
      {{MissingVariantSet{}}, "Missing variant_set"},
      {{ValueTypeMismatch{}}, "Dynamic Configuration Feature type mismatch."},
      {{NumberDeserialization{}}, "Number deserialization failed."},
      {{MalformedEvent{"out of range"}}, "Orvane returned malformed event: out of range"},
  };
  for (const auto& [error, text] : kCases) EXPECT_EQ(error.display(), text);
}

TEST(NameToDecisionmaker, ExactNamesOnly) {
  auto resolve = [](std::string_view name) -> std::string {
    Result<Stage, InvalidDecisionMaker> stage = name_to_decisionmaker(name);
    return stage ? std::to_string(static_cast<int>(*stage)) : stage.error().text();
  };
  const std::pair<std::string, const char*> kCases[] = {
      {"darkmode", "0"}, {"locale", "1"}, {"targeting", "2"}, {"overrides", "3"},
      {"holdout", "4"}, {"mutex_group", "5"}, {"fractional_availability", "6"}, {"value", "7"},
      {"Value", "Invalid decisionmaker name: \"Value\""},
      {"", "Invalid decisionmaker name: \"\""},
      {"darkmode ", "Invalid decisionmaker name: \"darkmode \""},
      {"a\"b\\c\t", "Invalid decisionmaker name: \"a\\\"b\\\\c\\t\""},
      {std::string("x\x01", 2), "Invalid decisionmaker name: \"x\\u{1}\""},
  };
  for (const auto& [name, text] : kCases) EXPECT_EQ(resolve(name), text) << name;
}

TEST(Decision, DebugTextMatchesGolden) {
  const Decision full{1, "f\"1", 2, "v", Json{{"b", Json::array({1, 2.5})}, {"a", "x"}},
                      ValueType::Map, {"0::::1::::f", "1::::x"},
                      {{EventKind::FracAvail, R"({"1":{"str":"e"}})"}, {EventKind::Holdout, "\\"}}};
  const Decision bare{4294967295u, "", 0, std::nullopt, Json(), std::nullopt, {}, {}};
  std::ifstream golden(ORVANE_TESTDATA_DIR "/decision_debug.txt");
  std::string full_text, bare_text;
  ASSERT_TRUE(std::getline(golden, full_text) && std::getline(golden, bare_text));
  EXPECT_EQ(decision_debug(full), full_text);
  EXPECT_EQ(decision_debug(bare), bare_text);
}

}  // namespace
}  // namespace orvane
