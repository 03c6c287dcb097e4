// Explanations: every stage outcome with its reason, every tree operator node by node,
// nested groups, and agreement with what choose decides for the same request.

#include "engine/explain.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine_test_support.h"

namespace orvane {
namespace {

using namespace testing;
using Setup = std::function<void(Feature&)>;

// "stage outcome: reason" for each step, then "=>" and the answer.
std::string summary(const OrderedJson& e) {
  std::string out;
  for (const OrderedJson& step : e["steps"]) {
    out += step["stage"].get<std::string>() + " " + step["outcome"].get<std::string>() + ": " +
           step["reason"].get<std::string>() + "; ";
  }
  if (!e["error"].is_null()) return out + "=> error " + e["error"].get<std::string>();
  out += "=> " + (e["variant"].is_null() ? "-" : e["variant"].get<std::string>()) + " " +
         e["value"].dump() + " by " +
         (e["decided_by"].is_null() ? "-" : e["decided_by"].get<std::string>());
  for (const OrderedJson& event : e["events"]) {
    out += " " + event["kind"].get<std::string>() + "/" + event["feature"].get<std::string>();
  }
  return out;
}

// The answer choose gives, in summary's words, to compare the explanation's with.
std::string chosen(const DecideResult& result) {
  if (!result) return "error " + result.error().display();
  if (!*result) return "- null";
  const Decision& d = **result;
  return d.variant_name.value_or("-") + " " + OrderedJson(d.value).dump();
}

std::string answer_of(const OrderedJson& e) {
  if (!e["error"].is_null()) return "error " + e["error"].get<std::string>();
  return (e["variant"].is_null() ? "-" : e["variant"].get<std::string>()) + " " + e["value"].dump();
}

Feature group(uint32_t id, const char* name, const char* variant) {
  return experiment(id, name, variant);
}

struct Case {
  const char* name;
  const char* chain;
  Setup setup;
  Context ctx;
  const char* expected;
};

TEST(Explain, EveryStageOutcome) {
  auto keep = [](Feature&) {};
  auto holdout = [](const char* variant, const char* field = "user_id") {
    return [=](Feature& f) {
      Feature g = group(90, "hg", variant);
      g.variant_set->bucket_val = ContextField::from_name(field);
      g.value = Json(7);
      f.variant_set->holdout = share(g);
    };
  };
  auto mutex = [](const char* member) {
    return [=](Feature& f) { f.variant_set->mutex_group = share(group(91, "mg", member)); };
  };
  auto overrides = [](std::vector<OverrideMap> maps) {
    return [=](Feature& f) { f.overrides = maps; };
  };
  auto value = [](std::optional<Json> v) {
    return [=](Feature& f) {
      f.variant_set.reset(), f.emit_event = false, f.value = v, f.value_type = ValueType::Integer;
    };
  };
  Context no_user;
  const Case cases[] = {
      {"enabled", "darkmode locale", keep, user("u1"),
       "darkmode pass: feature enabled; locale pass: locale is not checked: always passes; => - "
       "null by -"},
      {"disabled", "darkmode locale", [](Feature& f) { f.enabled = false; }, user("u1"),
       "darkmode stop: feature disabled; => - null by -"},
      {"no tree", "targeting", keep, user("u1"),
       "targeting pass: no targeting tree; => - null by -"},
      {"tree true", "targeting", [](Feature& f) { f.targeting = eq("user_id", "u1"); }, user("u1"),
       "targeting pass: tree is true; => - null by -"},
      {"tree false", "targeting", [](Feature& f) { f.targeting = eq("user_id", "u2"); }, user("u1"),
       "targeting stop: targeting did not match: tree is false; => - null by -"},
      {"tree undecided", "targeting", [](Feature& f) { f.targeting = eq("locale", "de"); },
       user("u1"),
       "targeting stop: targeting did not match: tree has no result (field absent); => - null by "
       "-"},
      {"no overrides", "overrides", keep, user("u1"),
       "overrides pass: no overrides; => - null by -"},
      {"override miss", "overrides",
       overrides({{{"qa", eq("user_id", "u2")}}, {{"qb", eq("user_id", "u3")}}}), user("u1"),
       "overrides pass: no override matched (2 maps); => - null by -"},
      {"override undecided", "overrides",
       overrides({{{"qa", eq("locale", "de")}}, {{"qb", eq("user_id", "u1")}}}), user("u1"),
       "overrides pass: override for qa has no result (field absent); later overrides not tried; "
       "=> - null by -"},
      {"override hit", "overrides",
       overrides({{{"qa", eq("user_id", "u2")}, {"qb", eq("user_id", "u1")}}}), user("u1"),
       "overrides decided: override matched variant qb; => qb \"qb\" by overrides Override/f"},
      {"override event fails", "overrides",
       [](Feature& f) { f.variant_set.reset(), f.overrides = {{{"qa", eq("user_id", "u1")}}}; },
       user("u1"), "overrides error: Missing variant_set; => error Missing variant_set"},
      {"no holdout", "holdout", keep, user("u1"), "holdout pass: no holdout group; => - null by -"},
      {"held out", "holdout fractional_availability", holdout("holdout"), user("u1"),
       "holdout decided: held out by hg; => - 7 by holdout Holdout/hg"},
      {"control", "holdout fractional_availability", holdout("control_1"), user("u1"),
       "holdout continue: hg gave control_1: continue with its events; "
       "fractional_availability "
       "decided: bucket 635 falls in all [0.0, 1.0); => all null by fractional_availability "
       "Holdout/hg "
       "FracAvail/f"},
      {"other holdout variant", "holdout fractional_availability", holdout("Holdout"), user("u1"),
       "holdout pass: hg gave Holdout: not held out; fractional_availability decided: bucket 635 "
       "falls in all [0.0, 1.0); => all null by fractional_availability FracAvail/f"},
      {"holdout undecided", "holdout darkmode",
       [](Feature& f) {
         Feature g = group(90, "hg", "holdout");
         g.enabled = false;
         f.variant_set->holdout = share(g);
       },
       user("u1"),
       "holdout pass: hg gave no variant: not held out; darkmode pass: feature enabled; => - null "
       "by -"},
      {"holdout fails", "holdout fractional_availability", holdout("holdout", "device_id"),
       user("u1"),
       "holdout error: Missing field \"device_id\" in context for bucket_val = device_id; => error "
       "Missing field \"device_id\" in context for bucket_val = device_id"},
      {"no mutex", "mutex_group", keep, user("u1"),
       "mutex_group pass: no mutex group; => - null by -"},
      {"mutex assigned", "mutex_group fractional_availability", mutex("f"), user("u1"),
       "mutex_group continue: mutex group mg assigned this feature: continue with its events; "
       "fractional_availability decided: bucket 635 falls in all [0.0, 1.0); => all null by "
       "fractional_availability MutexGroup/mg FracAvail/f"},
      {"mutex other", "mutex_group fractional_availability", mutex("g"), user("u1"),
       "mutex_group stop: mutex group mg assigned g; => - null by -"},
      {"mutex fails", "mutex_group fractional_availability", mutex("f"), no_user,
       "mutex_group error: Missing field \"user_id\" in context for bucket_val = user_id; => error "
       "Missing field \"user_id\" in context for bucket_val = user_id"},
      {"no variant set", "fractional_availability", [](Feature& f) { f.variant_set.reset(); },
       user("u1"), "fractional_availability pass: no variant set; => - null by -"},
      {"bucket in no variant", "fractional_availability",
       [](Feature& f) { f.variant_set->variants = {{"low", 0.0f, 0.6f}, {"high", 0.7f, 1.0f}}; },
       user("u1"), "fractional_availability pass: bucket 635 falls in no variant; => - null by -"},
      {"bucket_val not configured", "fractional_availability",
       [](Feature& f) { f.variant_set->bucket_val.reset(); }, user("u1"),
       "fractional_availability error: Missing \"bucket_val\" field in experiment config.; => "
       "error "
       "Missing \"bucket_val\" field in experiment config."},
      {"no value", "value", value(std::nullopt), user("u1"),
       "value stop: no value configured; => - null by -"},
      {"null value", "value", value(Json()), user("u1"),
       "value pass: value is null: passed on; => - null by -"},
      {"array value", "value", value(Json::array({1})), user("u1"),
       "value pass: value is an array: passed on; => - null by -"},
      {"value", "value", value(Json(5)), user("u1"),
       "value decided: value 5 (Integer); => - 5 by value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Feature f = experiment(7, "f");
    c.setup(f);
    const Orvane engine({share(f)}, chain(c.chain));
    const OrderedJson e = explanation_json(explain(engine, "f", c.ctx, std::nullopt));
    EXPECT_EQ(summary(e), c.expected);
    EXPECT_EQ(answer_of(e), chosen(choose(engine, "f", c.ctx, std::nullopt)));
  }
}

// One line per tree: op [field value] [read], "=" and the result or "none(why)", children
// in brackets.
std::string tree_text(const OrderedJson& node) {
  std::string out = node["op"].get<std::string>();
  if (node.contains("field")) out += " " + node["field"].get<std::string>();
  if (node.contains("value")) out += " " + node["value"].dump();
  if (node.contains("values")) out += " " + node["values"].dump();
  if (node.contains("read")) out += " read " + node["read"].dump();
  out += node["result"].is_null() ? "=none(" + node["why"].get<std::string>() + ")"
                                  : "=" + node["result"].dump();
  if (node.contains("children")) {
    out += "[";
    for (const OrderedJson& child : node["children"])
      out += tree_text(child) + (&child == &node["children"].back() ? "" : ", ");
    out += "]";
  }
  return out;
}

TargetingTree all(std::vector<TargetingTree> children) { return {AllNode{std::move(children)}}; }
TargetingTree any(std::vector<TargetingTree> children) { return {AnyNode{std::move(children)}}; }
TargetingTree negate(TargetingTree child) {
  return {NotNode{std::make_shared<const TargetingTree>(std::move(child))}};
}
TargetingTree eq_many(const char* field, std::vector<Json> values) {
  return {EqNode{EqMany{ContextField::from_name(field), std::move(values)}}};
}
TargetingTree ne(const char* field, Json value) {
  return {NeNode{ContextField::from_name(field), std::move(value)}};
}
TargetingTree compare(Comp op, const char* field, double value) {
  return {CompareNode{op, ContextField::from_name(field), value}};
}

TEST(Explain, EveryTreeOperatorNodeByNode) {
  struct TreeCase {
    const char* name;
    TargetingTree tree;
    const char* expected;
  };
  Context ctx = user("u1");
  ctx.build_number = 1300;
  ctx.logged_in = true;
  ctx.locale = "abc";
  const TreeCase cases[] = {
      {"empty ALL and ANY", all({any({}), all({})}),
       "ALL=false[ANY=false[], ALL=none(not evaluated)[]]"},
      {"ALL stops at the first child that is not true",
       all({eq("user_id", "u1"), eq("locale", 5), eq("user_id", "u1")}),
       "ALL=false[EQ user_id \"u1\" read \"u1\"=true, EQ locale 5 read \"abc\"=false, "
       "EQ user_id \"u1\"=none(not evaluated)]"},
      {"ANY stops at the first true child",
       any({eq("country_code", "US"), eq("logged_in", true), eq("user_id", "x")}),
       "ANY=true[EQ country_code \"US\"=none(field absent), EQ logged_in true read true=true, "
       "EQ user_id \"x\"=none(not evaluated)]"},
      {"NOT", all({negate(eq("logged_in", false)), negate(eq("locale", true))}),
       "ALL=false[NOT=true[EQ logged_in false read true=false], NOT=none(its child has no result)"
       "[EQ locale true read \"abc\"=none(cannot compare bool with string)]]"},
      {"EQ with several values",
       any({eq_many("user_id", {"u0", "u1"}), eq_many("user_id", {"u1", false})}),
       "ANY=true[EQ user_id [\"u0\",\"u1\"] read \"u1\"=true, EQ user_id [\"u1\",false]=none(not "
       "evaluated)]"},
      {"EQ with several values poisoned by one", eq_many("user_id", {"u1", false}),
       "EQ user_id [\"u1\",false] read \"u1\"=none(cannot compare string with bool)"},
      {"NE", all({ne("user_id", "u2"), ne("logged_in", "x")}),
       "ALL=false[NE user_id \"u2\" read \"u1\"=true, NE logged_in \"x\" read true=none(cannot "
       "compare "
       "string with bool)]"},
      {"comparisons",
       all({compare(Comp::Gt, "build_number", 1200), compare(Comp::Lt, "build_number", 1300),
            compare(Comp::Ge, "build_number", 1300)}),
       "ALL=false[GT build_number 1200.0 read 1300=true, LT build_number 1300.0 read 1300=false, "
       "GE build_number 1300.0=none(not evaluated)]"},
      {"comparisons without a result",
       any({compare(Comp::Le, "locale", 1), compare(Comp::Ge, "logged_in", 1),
            compare(Comp::Le, "device_id", 1)}),
       "ANY=false[LE locale 1.0 read \"abc\"=none(text \"abc\" is not a number), GE logged_in 1.0 "
       "read "
       "true=none(cannot order a bool), LE device_id 1.0=none(field absent)]"},
  };
  for (const TreeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Feature f = experiment(7, "f");
    f.targeting = c.tree;
    const Orvane engine({share(f)}, chain("targeting"));
    const OrderedJson e = explanation_json(explain(engine, "f", ctx, std::nullopt));
    EXPECT_EQ(tree_text(e["steps"][0]["details"]["tree"]), c.expected);
  }
}

TEST(Explain, OverrideTreesShowEveryEntry) {
  Feature f = experiment(7, "f");
  f.overrides = {{{"qa", eq("user_id", "u2")}, {"qb", eq("user_id", "u1")}},
                 {{"qc", eq("user_id", "u1")}}};
  const Orvane engine({share(f)}, chain("overrides"));
  const OrderedJson details =
      explanation_json(explain(engine, "f", user("u1"), std::nullopt))["steps"][0]["details"];
  std::string text;
  for (const OrderedJson& map : details["overrides"]) {
    for (const auto& [variant, tree] : map.items()) text += variant + ": " + tree_text(tree) + "; ";
  }
  EXPECT_EQ(text + "matched " + details["matched"].dump(),
            "qa: EQ user_id \"u2\" read \"u1\"=false; qb: EQ user_id \"u1\" read \"u1\"=true; "
            "qc: EQ user_id \"u1\"=none(not evaluated); matched \"qb\"");
}

TEST(Explain, BucketingShowsSeedRangesAndBuckets) {
  // 42.my_feature.3u1234 hashes to bucket 559 (SHA-1 a6bde867...e7 modulo 1000).
  Feature f = experiment(42, "my_feature");
  f.variant_set->shuffle_version = 3;
  f.variant_set->variants = {{"control_1", 0.0f, 0.25f},
                             {"treatment", 0.25f, 0.5f},
                             {"treatment_2", 0.5f, 0.75f},
                             {"empty", 0.3f, 0.3f}};
  const Orvane engine({share(f)}, chain("fractional_availability"));
  const OrderedJson e =
      explanation_json(explain(engine, "my_feature", user("u1234"), std::nullopt));
  EXPECT_EQ(e["steps"][0]["details"].dump(),
            R"({"bucket_val":"user_id","seed":"42.my_feature.3u1234","bucket":559,"variants":[)"
            R"({"name":"control_1","range":[0.0,0.25],"buckets":[0,249]},)"
            R"({"name":"treatment","range":[0.25,0.5],"buckets":[250,499]},)"
            R"({"name":"treatment_2","range":[0.5,0.75],"buckets":[500,749]},)"
            R"({"name":"empty","range":[0.3,0.3],"buckets":null}],"matched":"treatment_2"})");
  EXPECT_EQ(e["bucket"], 559);
  EXPECT_EQ(e["seed"], "42.my_feature.3u1234");
  EXPECT_EQ(e["steps"][0]["reason"], "bucket 559 falls in treatment_2 [0.5, 0.75)");

  Feature bare = dynamic_config(5, "bare", Json(1), ValueType::Integer);
  Feature unkeyed = experiment(6, "unkeyed");
  unkeyed.variant_set->bucket_val.reset();
  const Orvane lookups({share(f), share(bare), share(unkeyed)}, {});
  EXPECT_EQ(feature_bucket(lookups, "my_feature", "u1234").value(), 559);
  EXPECT_EQ(feature_bucket(lookups, "nope", "u1").error(), "Feature \"nope\" not found.");
  EXPECT_EQ(feature_bucket(lookups, "bare", "u1").error(),
            "Feature \"bare\" does not bucket: it has no variant set.");
  EXPECT_EQ(feature_bucket(lookups, "unkeyed", "u1").error(),
            "Feature \"unkeyed\" does not bucket: its variant set has no bucket_val.");
}

// Each line: the run's feature, then its steps indented, each nested group's run below
// the step that ran it.
void outline(const OrderedJson& e, int depth, std::string& out) {
  const std::string indent(static_cast<size_t>(depth) * 2, ' ');
  out += indent + e["feature"].get<std::string>() + " -> " + answer_of(e) +
         (e.contains("note") ? " (" + e["note"].get<std::string>() + ")" : "") + "\n";
  for (const OrderedJson& step : e["steps"]) {
    out += indent + "  " + step["stage"].get<std::string>() + " " +
           step["outcome"].get<std::string>() +
           (step["details"].contains("answer") ? " " + step["details"]["answer"].get<std::string>()
                                               : "") +
           "\n";
    if (step["details"].contains("explanation"))
      outline(step["details"]["explanation"], depth + 2, out);
  }
}

TEST(Explain, HoldoutInMutexGroupInHoldout) {
  // f is held by hg1, whose mutex group mg is itself held by hg2; hg2 gives control_1 and
  // mg assigns hg1, so hg1 goes on to bucket its users into control_1 and f goes on.
  Feature hg2 = group(4, "hg2", "control_1");
  Feature mg = group(3, "mg", "hg1");
  mg.variant_set->holdout = share(hg2);
  Feature hg1 = group(2, "hg1", "control_1");
  hg1.variant_set->mutex_group = share(mg);
  hg1.variant_set->holdout = share(hg2);  // reached again through mg, and run again
  Feature f = experiment(1, "f");
  f.variant_set->holdout = share(hg1);
  const Orvane engine({share(f)}, chain("holdout mutex_group fractional_availability"));
  const OrderedJson e = explanation_json(explain(engine, "f", user("u1"), std::nullopt));
  std::string text;
  outline(e, 0, text);
  EXPECT_EQ(text,
            "f -> all null\n"
            "  holdout continue control\n"
            "    hg1 -> control_1 null\n"
            "      holdout continue control\n"
            "        hg2 -> control_1 null\n"
            "          holdout pass\n"
            "          mutex_group pass\n"
            "          fractional_availability decided\n"
            "      mutex_group continue assigned\n"
            "        mg -> hg1 null\n"
            "          holdout continue control\n"
            "            hg2 -> control_1 null\n"
            "              holdout pass\n"
            "              mutex_group pass\n"
            "              fractional_availability decided\n"
            "          mutex_group pass\n"
            "          fractional_availability decided\n"
            "      fractional_availability decided\n"
            "  mutex_group pass\n"
            "  fractional_availability decided\n");
  EXPECT_EQ(summary(e).substr(summary(e).find("=>")),
            "=> all null by fractional_availability Holdout/hg2 MutexGroup/hg2 FracAvail/mg "
            "FracAvail/hg1 "
            "FracAvail/f");
  EXPECT_EQ(answer_of(e), chosen(choose(engine, "f", user("u1"), std::nullopt)));
}

TEST(Explain, GroupMetAThirdTimeIsAnsweredFromBefore) {
  Feature f = experiment(1, "f");
  f.variant_set->holdout = share(group(2, "hg", "control_1"));
  const Orvane engine({share(f)}, chain("holdout holdout holdout fractional_availability"));
  std::string text;
  outline(explanation_json(explain(engine, "f", user("u1"), std::nullopt)), 0, text);
  EXPECT_EQ(
      text.substr(text.rfind("hg ->")),
      "hg -> control_1 null (decided earlier in this decision; the same answer is used again)\n"
      "  fractional_availability decided\n");
}

TEST(Explain, DeepGroupsAreExplainedByTheirAnswerOnly) {
  // r0 is held by r1, r1 by r2, ... r39: past 32 levels only the answers are shown.
  std::shared_ptr<const Feature> next;
  for (int i = 39; i >= 0; --i) {
    Feature r = group(static_cast<uint32_t>(i), ("r" + std::to_string(i)).c_str(), "control_1");
    r.variant_set->holdout = next;
    next = share(r);
  }
  const Orvane engine({next}, chain("holdout fractional_availability"));
  OrderedJson e = explanation_json(explain(engine, "r0", user("u1"), std::nullopt));
  int shown = 0;
  while (e["steps"].size() == 2) {
    e = OrderedJson(e["steps"][0]["details"]["explanation"]);
    ++shown;
  }
  EXPECT_EQ(shown, 33);  // r0 and the 32 groups below it
  EXPECT_EQ(e["feature"], "r33");
  EXPECT_EQ(e["note"], "nested deeper than 32 groups; steps not shown");
  EXPECT_EQ(e["variant"], "control_1");
}

}  // namespace
}  // namespace orvane
