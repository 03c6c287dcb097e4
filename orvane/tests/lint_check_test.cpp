#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "base/json.h"
#include "lint/check.h"

namespace orvane::lint {
namespace {

// Two records that check clean: an experiment split in halves, and an integer
// configuration. Each case applies a JSON merge patch to them.
constexpr const char* kBase = R"({
  "a": {"id": 1, "name": "a", "enabled": true, "version": "1", "owner": "o",
        "type": "range_variant",
        "experiment": {"experiment_version": 1, "bucket_val": "user_id",
          "variants": [{"name": "control_1", "range_start": 0.0, "range_end": 0.5},
                       {"name": "treatment", "range_start": 0.5, "range_end": 1.0}]}},
  "cfg": {"id": 2, "name": "cfg", "enabled": true, "version": "1", "owner": "o",
          "type": "dynamic_config", "value": 5, "value_type": "Integer",
          "experiment": {"experiment_version": 1}}
})";

// A record under `key` named `name`, with these variants, as a member of a patch.
std::string group(const std::string& key, const std::string& name, uint32_t id,
                  const std::string& variants) {
  return "\"" + key + "\": {\"id\": " + std::to_string(id) + ", \"name\": \"" + name +
         "\", \"enabled\": true, \"version\": \"1\", \"owner\": \"o\", \"type\": "
         "\"range_variant\", \"experiment\": {\"experiment_version\": 1, "
         "\"bucket_val\": \"user_id\", \"variants\": " + variants + "}}";
}

std::string variants(const std::string& ranges) { return R"({"a": {"experiment": {"variants": )" + ranges + "}}}"; }
std::string targeting(const std::string& tree) { return R"({"a": {"experiment": {"targeting": )" + tree + "}}}"; }

constexpr int64_t kNow = 1'765'000'000'000;  // 2025-12-06

// "code@key" for each finding, in report order; "code" alone for findings of no record.
std::string codes(const CheckReport& report) {
  std::string out;
  for (const Finding& f : report.findings) {
    if (!out.empty()) out += ' ';
    out += code_name(f.code);
    if (f.key) out += "@" + *f.key;
  }
  return out;
}

CheckReport check_patched(const std::string& patch, std::optional<std::string> stages = {}) {
  Json document = Json::parse(kBase);
  document.merge_patch(Json::parse(patch));
  Result<CheckReport, JsonError> report =
      check_config(document.dump(), CheckOptions{std::move(stages), kNow});
  EXPECT_TRUE(report.has_value()) << (report ? "" : report.error().display());
  return report ? std::move(report).value() : CheckReport{};
}

struct Case {
  const char* name;
  std::string patch;
  const char* codes;
};

TEST(Check, EachCodeFiresAndStaysQuiet) {
  const std::string holdout_group =
      group("hg", "hg", 10, R"([{"name": "holdout", "range_start": 0, "range_end": 0.1}])");
  const Case kCases[] = {
      {"clean", "{}", ""},
      {"range written in buckets", variants(R"([{"name": "x", "range_start": 0, "range_end": 500}])"),
       "range-out-of-bounds@a"},
      {"range starting after its end",
       variants(R"([{"name": "x", "range_start": 0.6, "range_end": 0.4}, {"name": "y", "range_start": 0, "range_end": 1}])"),
       "range-out-of-bounds@a"},
      {"range between buckets",
       variants(R"([{"name": "x", "range_start": 0, "range_end": 1}, {"name": "y", "range_start": 0.0101, "range_end": 0.0109}])"),
       "range-empty@a"},
      {"one bucket is not empty",
       variants(R"([{"name": "x", "range_start": 0, "range_end": 0.999}, {"name": "y", "range_start": 0.999, "range_end": 1}])"),
       ""},
      {"overlap", variants(R"([{"name": "x", "range_start": 0, "range_end": 0.6}, {"name": "y", "range_start": 0.4, "range_end": 1}])"),
       "ranges-overlap@a"},
      {"gap", variants(R"([{"name": "x", "range_start": 0, "range_end": 0.4}, {"name": "y", "range_start": 0.5, "range_end": 1}])"),
       "ranges-gap@a"},
      {"no variants", variants("[]"), "ranges-gap@a"},
      {"a holdout group's gap is its purpose", R"({"a": {"parent_hg_name": "hg"}, )" + holdout_group + "}", ""},
      {"parent names no key", R"({"a": {"parent_hg_name": "hgg"}})", "missing-parent@a"},
      {"parent names a name, not a key", "{" + group("mg", "group_name", 11, R"([{"name": "a", "range_start": 0, "range_end": 1}])") +
                                             R"(, "a": {"parent_meg_name": "group_name"}})",
       "missing-parent@a"},
      {"holdout group without holdout", "{" + group("hg", "hg", 10, R"([{"name": "Holdout", "range_start": 0, "range_end": 0.1}])") +
                                            R"(, "a": {"parent_hg_name": "hg"}})",
       "holdout-without-holdout-variant@hg"},
      {"mutex member missing from the group", "{" + group("mg", "mg", 12, R"([{"name": "b", "range_start": 0, "range_end": 1}])") +
                                                  R"(, "a": {"parent_meg_name": "mg"}})",
       "mutex-member-not-variant@a"},
      {"mutex member in the group", "{" + group("mg", "mg", 12, R"([{"name": "a", "range_start": 0, "range_end": 1}])") +
                                          R"(, "a": {"parent_meg_name": "mg"}})",
       ""},
      {"override of an unknown variant", R"({"a": {"experiment": {"overrides": [{"treatmnet": {"EQ": {"field": "user_id", "value": "u1"}}}]}}})",
       "override-unknown-variant@a"},
      {"override of a variant", R"({"a": {"experiment": {"overrides": [{"treatment": {"EQ": {"field": "user_id", "value": "u1"}}}]}}})",
       ""},
      {"name and id given twice", "{" + group("b", "b", 1, R"([{"name": "x", "range_start": 0, "range_end": 1}])") + "}" ,
       "duplicate-id@b"},
      {"same name under two keys", R"({"cfg2": {"id": 3, "name": "cfg", "enabled": true, "version": "1", "owner": "o", "type": "dynamic_config", "value": 1, "value_type": "Integer", "experiment": {"experiment_version": 1}}})",
       "duplicate-name@cfg2"},
      {"boolean configuration holding text", R"({"cfg": {"value": "yes", "value_type": "Boolean"}})",
       "value-type-mismatch@cfg"},
      {"configuration without value_type", R"({"cfg": {"value_type": null}})", "value-type-mismatch@cfg"},
      {"configuration without value", R"({"cfg": {"value": null}})", "value-type-mismatch@cfg"},
      {"integer beyond get_int", R"({"cfg": {"value": 9223372036854775808}})", "value-type-mismatch@cfg"},
      {"float written as an integer", R"({"cfg": {"value": 1, "value_type": "Float"}})", ""},
      {"missing bucket_val", R"({"a": {"experiment": {"bucket_val": null}}})", "missing-bucket-val@a"},
      {"GT on a string field", targeting(R"({"GT": {"field": "country_code", "value": 3}})"), "tree-type-mismatch@a"},
      {"EQ of a boolean field with text", targeting(R"({"NOT": {"EQ": {"field": "logged_in", "value": "true"}}})"),
       "tree-type-mismatch@a"},
      {"EQ list mixing kinds", targeting(R"({"EQ": {"field": "country_code", "values": ["US", true]}})"),
       "tree-type-mismatch@a"},
      {"EQ of a number field with text that is no number", targeting(R"({"EQ": {"field": "build_number", "value": "abc"}})"),
       "tree-never-true@a"},
      {"empty list and empty ANY", targeting(R"({"ALL": [{"EQ": {"field": "user_id", "values": []}}, {"ANY": []}]})"),
       "tree-never-true@a tree-never-true@a"},
      {"GT beyond a 32-bit build number", targeting(R"({"GT": {"field": "build_number", "value": 3e9}})"),
       "tree-never-true@a"},
      {"comparisons that fit their fields, and NE with an array",
       targeting(R"({"ALL": [{"GE": {"field": "build_number", "value": 1200}}, {"EQ": {"field": "build_number", "value": "1200"}}, {"EQ": {"field": "logged_in", "value": true}}, {"NE": {"field": "plan", "value": [1]}}]})"),
       "tree-type-mismatch@a"},
      {"misspelt field", targeting(R"({"EQ": {"field": "loggedin", "value": true}})"), "unknown-field@a"},
      {"misspelt bucket_val", R"({"a": {"experiment": {"bucket_val": "userid"}}})", "unknown-field@a"},
      {"starts after it stops", R"({"a": {"start_ts": 1800000000000, "stop_ts": 1790000000000}})", "schedule@a"},
      {"stopped before now, in seconds", R"({"a": {"start_ts": 1700000000, "stop_ts": 1710000000}})", "schedule@a"},
      {"running", R"({"a": {"start_ts": 1700000000000, "stop_ts": 1790000000000}})", ""},
      {"misspelt record member", R"({"a": {"enabeld": false}})", "unknown-member@a"},
      {"misspelt targeting", R"({"a": {"experiment": {"targetting": {"EQ": {"field": "logged_in", "value": true}}}}})",
       "unknown-member@a"},
      {"misspelt variants", R"({"a": {"experiment": {"varients": []}}})", "unknown-member@a"},
      {"variant member", variants(R"([{"name": "x", "range_start": 0, "range_end": 1, "weight": 2}])"),
       "unknown-member@a"},
      {"tree member", targeting(R"({"NOT": {"ALL": [{"EQ": {"field": "user_id", "value": "u", "vaule": "v"}}]}})"),
       "unknown-member@a"},
      {"override tree member", R"({"a": {"experiment": {"overrides": [{"treatment": {"GT": {"field": "build_number", "value": 3, "values": [4]}}}]}}})",
       "unknown-member@a"},
      {"members of a map value are the value's own", R"({"cfg": {"value": {"anything": 1}, "value_type": "Map"}})", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(codes(check_patched(c.patch)), c.codes);
  }
}

TEST(Check, Stages) {
  const struct {
    const char* stages;
    const char* codes;
  } kCases[] = {
      {"darkmode targeting overrides holdout mutex_group fractional_availability value", ""},
      {"darkmode targeting fractional-availability", "unknown-stage"},
      {"fractional_availability targeting", "stage-order"},
      {"value targeting", "stage-order"},
      {"darkmode value fractional_availability", "stage-order"},
      {"darkmode targeting overrides holdout mutex_group value fractional_availability", "stage-order"},
      {"targeting holdout holdout holdout", "stage-order"},
      {" \t ", "stage-order"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stages);
    EXPECT_EQ(codes(check_patched("{}", c.stages)), c.codes);
  }
}

TEST(Check, MessagesSayWhatAndWhatToDo) {
  CheckReport overlap = check_patched(variants(
      R"([{"name": "control_1", "range_start": 0, "range_end": 0.5}, {"name": "treatment", "range_start": 0.4, "range_end": 1}])"));
  ASSERT_EQ(overlap.findings.size(), 1u);
  EXPECT_EQ(overlap.findings[0].message, "`treatment` [0.4, 1) overlaps `control_1` [0, 0.5)");
  EXPECT_EQ(overlap.findings[0].hint,
            "buckets 400-499 (10.0% of users) go to `control_1`, the first range that holds them");
  EXPECT_EQ(overlap.findings[0].path,
            (MemberPath{"a", "experiment", "variants", "1"}));

  CheckReport parent = check_patched(R"({"a": {"parent_hg_name": "cfg "}})");
  ASSERT_EQ(parent.findings.size(), 1u);
  EXPECT_EQ(parent.findings[0].message, "parent_hg_name \"cfg \" names no record key");
  EXPECT_EQ(parent.findings[0].hint, "did you mean \"cfg\"? Without it no user is held out.");

  CheckReport stage = check_patched("{}", "darkmode fractional-availability");
  ASSERT_EQ(stage.findings.size(), 1u);
  EXPECT_EQ(stage.findings[0].hint,
            "did you mean `fractional_availability`? The stages are darkmode, locale, targeting, "
            "overrides, holdout, mutex_group, fractional_availability, value");
}

TEST(Check, ShippedExampleHasOnlyNotes) {
  std::ifstream in(ORVANE_EXAMPLES_DIR "/experiments.json", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  Result<CheckReport, JsonError> report = check_config(
      text.str(), CheckOptions{"darkmode targeting overrides holdout mutex_group "
                               "fractional_availability value",
                               kNow});
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->records, 17u);
  EXPECT_EQ(codes(*report), "ranges-gap@new_editor_rollout ranges-gap@dark_mode_rollout");
}

// Places are those of the member's name (its opening quote) or of an array element's first
// byte, 1-based, as an editor shows them.
TEST(Check, FindingsArePlacedAndSkippedMembersFound) {
  const char* text =
      "{\n"
      "  \"a\": {\"id\": 1, \"name\": \"a\", \"enabled\": true, \"version\": \"1\",\n"
      "    \"owner\": \"o\", \"type\": \"range_variant\", \"note\": \"x\",\n"
      "    \"experiment\": {\"experiment_version\": 1, \"bucket_val\": \"user_id\",\n"
      "      \"targetting\": {\"EQ\": {\"field\": \"logged_in\", \"value\": true}},\n"
      "      \"variants\": [{\"name\": \"on\", \"range_start\": 0, \"range_end\": 0.6},\n"
      "                   {\"name\": \"off\", \"range_start\": 0.5, \"range_end\": 1}]}},\n"
      "  \"b\": {\"id\": 2, \"name\": \"b\", \"enabled\": true, \"version\": \"1\", \"owner\": \"o\",\n"
      "    \"type\": \"dynamic_config\", \"value\": 1, \"value_type\": \"Integer\",\n"
      "    \"experiment\": {\"experiment_version\": 1}},\n"
      "  \"b\": {\"id\": 3, \"name\": \"b2\", \"enabled\": true, \"version\": \"1\", \"owner\": \"o\",\n"
      "    \"type\": \"dynamic_config\", \"value\": 1, \"value_type\": \"Integer\",\n"
      "    \"experiment\": {\"experiment_version\": 1}}\n"
      "}\n";
  Result<CheckReport, JsonError> report = check_config(text, CheckOptions{std::nullopt, kNow});
  ASSERT_TRUE(report.has_value());
  std::vector<std::string> placed;
  for (const Finding& f : report->findings) {
    placed.push_back(std::string(code_name(f.code)) + " " + std::string(severity_name(f.severity)) +
                     " " + f.feature.value_or("-") + " " + std::to_string(f.line.value_or(0)) +
                     ":" + std::to_string(f.column.value_or(0)) + " " + f.message);
  }
  EXPECT_EQ(placed, (std::vector<std::string>{
                        "unknown-member warning a 3:44 `note` is no member of a record: it is skipped",
                        "unknown-member error a 5:7 `targetting` is no member of experiment: it is skipped",
                        "ranges-overlap error a 7:20 `off` [0.5, 1) overlaps `on` [0, 0.6)",
                        "duplicate-key error b2 8:3 the key \"b\" is given again at line 11: the later "
                        "record replaces this one",
                    }));
  EXPECT_EQ(report->findings[1].hint, "did you mean `targeting`? As written it is skipped, as if absent");
}

TEST(Check, UnreadableTextIsTheReadersError) {
  Result<CheckReport, JsonError> report = check_config(R"({"a": {"id": 1}})", {});
  ASSERT_FALSE(report.has_value());
  EXPECT_EQ(report.error().message(), "missing field `name`");
}

}  // namespace
}  // namespace orvane::lint
