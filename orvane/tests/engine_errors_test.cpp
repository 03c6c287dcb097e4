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

// Two events of kinds whose names and numbers differ, on a request whose user id needs
// escaping in both the document and the debug text around it.
SerializedEvents two_events() {
  auto event = [](EventKind kind, const char* variant) {
    return ExperimentEvent{.feature_name = "f\"1", .variant_name = variant,
                           .bucket_field = "user_id", .identifier = "u\\1",
                           .start_ts = 0, .stop_ts = 9, .owner = "o", .feature_id = 1,
                           .feature_version = 2, .kind = kind};
  };
  Context ctx;
  ctx.user_id = "u\\1";
  EventStamp stamp{1700000000123, *parse_uuid("00000000-0000-4000-8000-000000000008"),
                   {*parse_uuid("00000000-0000-4000-8000-000000000001"),
                    *parse_uuid("00000000-0000-4000-8000-000000000002")}};
  auto events = serialize_events_with(
      ctx, {event(EventKind::FracAvail, "v"), event(EventKind::Holdout, "w")}, stamp);
  EXPECT_TRUE(events);
  return events ? std::move(events).value() : SerializedEvents{};
}

TEST(Decision, DebugTextMatchesGolden) {
  const Decision full{1, "f\"1", 2, "v", Json{{"b", Json::array({1, 2.5})}, {"a", "x"}},
                      ValueType::Map, two_events()};
  const Decision bare{4294967295u, "", 0, std::nullopt, Json(), std::nullopt, {}};
  std::ifstream golden(ORVANE_TESTDATA_DIR "/decision_debug.txt");
  std::string full_text, bare_text;
  ASSERT_TRUE(std::getline(golden, full_text) && std::getline(golden, bare_text));
  EXPECT_EQ(decision_debug(full), full_text);
  EXPECT_EQ(decision_debug(bare), bare_text);
}

}  // namespace
}  // namespace orvane
