#include "engine/explain_steps.h"

#include <charconv>
#include <string>
#include <string_view>
#include <variant>

#include "base/overloaded.h"
#include "base/quote.h"

namespace orvane {
namespace {

using NodeMap = std::unordered_map<const TargetingTree*, NodeSeen>;

// A value inside a one-line reason: a long map or text is cut, at a character boundary so
// the reason stays valid UTF-8.
std::string short_text(const Json& value) {
  constexpr size_t kLongest = 60;
  std::string text = json_compact(value);
  if (text.size() <= kLongest) return text;
  size_t cut = kLongest - 3;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text + "...";
}

// Ranges are single-precision floats; their shortest digits are what the configuration
// most likely said (0.3, not 0.30000001192092896), written as JSON writes them (1.0).
std::string float_text(float value) {
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;  // 32 bytes hold any float
  std::string text(buffer, end);
  if (text.find_first_of(".ein") == std::string::npos) text += ".0";
  return text;
}

double as_written(float value) {
  std::string text = float_text(value);
  double widened = value;
  std::from_chars(text.data(), text.data() + text.size(), widened);
  return widened;
}

// The first bucket whose fraction reaches `bound`; 1000 when none does. Fractions grow
// with the bucket, so the buckets of a range [start, end) are [first(start), first(end)).
uint16_t first_bucket_from(float bound) {
  uint16_t low = 0;
  uint16_t high = 1000;
  while (low < high) {
    const auto middle = static_cast<uint16_t>((low + high) / 2);
    if (bucket_fraction(middle) >= bound) {
      high = middle;
    } else {
      low = static_cast<uint16_t>(middle + 1);
    }
  }
  return low;
}

std::string cannot_compare(const Json& first, const Json& second) {
  return std::string("cannot compare ") + json_kind_name(first) + " with " + json_kind_name(second);
}

// Why a node that was evaluated gave no result.
std::string why_no_result(const TargetingTree& tree, const NodeSeen& seen) {
  if (std::holds_alternative<NotNode>(tree.node)) return "its child has no result";
  if (seen.leaf && !seen.read) return "field absent";
  if (!seen.read) return "no result";
  const Json& read = *seen.read;
  return std::visit(Overloaded{
                        [&](const EqNode& node) {
                          if (const auto* one = std::get_if<EqOne>(&node.eq))
                            return cannot_compare(one->value, read);
                          // The first configured value the context value cannot be compared with.
                          for (const Json& value : std::get<EqMany>(node.eq).values) {
                            if (!value_eq(read, value)) return cannot_compare(read, value);
                          }
                          return std::string("no result");
                        },
                        [&](const NeNode& node) { return cannot_compare(node.value, read); },
                        [&](const CompareNode&) {
                          if (read.is_string()) {
                            return "text " + quoted_text(read.get_ref<const std::string&>()) +
                                   " is not a number";
                          }
                          return std::string("cannot order a ") + json_kind_name(read);
                        },
                        [](const auto&) { return std::string("no result"); },
                    },
                    tree.node);
}

const NodeSeen* find_node(const NodeMap& nodes, const TargetingTree& tree) {
  auto it = nodes.find(&tree);
  return it == nodes.end() ? nullptr : &it->second;
}

// "is true", "is false", or "has no result (why)".
std::string result_text(const TargetingTree& tree, const NodeMap& nodes) {
  const NodeSeen* seen = find_node(nodes, tree);
  if (!seen) return "was not evaluated";
  if (seen->result) return *seen->result ? "is true" : "is false";
  return "has no result (" + why_no_result(tree, *seen) + ")";
}

// The whole tree, each node with its operator and configured parts, and the result it
// gave (null with "why" when it gave none or was not reached).
OrderedJson node_json(const TargetingTree& tree, const NodeMap& nodes) {
  OrderedJson out = OrderedJson::object();
  out["op"] = std::string(operator_name(tree));
  OrderedJson children;
  auto list = [&](const std::vector<TargetingTree>& trees) {
    children = OrderedJson::array();
    for (const TargetingTree& child : trees) children.push_back(node_json(child, nodes));
  };
  std::visit(Overloaded{
                 [&](const AllNode& node) { list(node.children); },
                 [&](const AnyNode& node) { list(node.children); },
                 [&](const NotNode& node) {
                   children = OrderedJson::array({node_json(*node.child, nodes)});
                 },
                 [&](const EqNode& node) {
                   std::visit(Overloaded{
                                  [&](const EqOne& eq) {
                                    out["field"] = std::string(eq.field.name());
                                    out["value"] = OrderedJson(eq.value);
                                  },
                                  [&](const EqMany& eq) {
                                    out["field"] = std::string(eq.field.name());
                                    out["values"] = OrderedJson::array();
                                    for (const Json& v : eq.values)
                                      out["values"].push_back(OrderedJson(v));
                                  },
                              },
                              node.eq);
                 },
                 [&](const NeNode& node) {
                   out["field"] = std::string(node.field.name());
                   out["value"] = OrderedJson(node.value);
                 },
                 [&](const CompareNode& node) {
                   out["field"] = std::string(node.field.name());
                   out["value"] = node.value;
                 },
             },
             tree.node);
  if (const NodeSeen* seen = find_node(nodes, tree)) {
    if (seen->read) out["read"] = OrderedJson(*seen->read);
    if (seen->result) {
      out["result"] = *seen->result;
    } else {
      out["result"] = nullptr;
      out["why"] = why_no_result(tree, *seen);
    }
  } else {
    out["result"] = nullptr;
    out["why"] = "not evaluated";
  }
  if (!children.is_null()) out["children"] = std::move(children);
  return out;
}

StepOutcome outcome_of(const StageResult& result) {
  if (!result) return StepOutcome::Error;
  return std::visit(Overloaded{
                        [](const outcome::Pass&) { return StepOutcome::Pass; },
                        [](const outcome::NoDecision&) { return StepOutcome::Stop; },
                        [](const outcome::Continue&) { return StepOutcome::Continue; },
                        [](const outcome::Decided&) { return StepOutcome::Decided; },
                    },
                    *result);
}

// The stage's own constant reason for passing; empty for any other outcome.
std::string_view pass_code(const StageResult& result) {
  if (!result) return {};
  const auto* pass = std::get_if<outcome::Pass>(&*result);
  return pass ? pass->reason : std::string_view();
}

void describe_targeting(const StageSeen& seen, ExplainedStep& step) {
  const Feature& feature = *seen.feature;
  if (!feature.targeting) {
    step.details["tree"] = nullptr;
    step.reason = "no targeting tree";
    return;
  }
  step.details["tree"] = node_json(*feature.targeting, seen.nodes);
  const std::string result = result_text(*feature.targeting, seen.nodes);
  step.reason = step.outcome == StepOutcome::Pass ? "tree is true"
                                                  : "targeting did not match: tree " + result;
}

void describe_overrides(const StageSeen& seen, const StageResult& result, ExplainedStep& step) {
  const Feature& feature = *seen.feature;
  if (!feature.overrides) {
    step.details["overrides"] = nullptr;
    step.reason = "no overrides";
    return;
  }
  OrderedJson maps = OrderedJson::array();
  const std::string* matched = nullptr;
  const std::string* undecided = nullptr;
  std::string why;
  for (const OverrideMap& map : *feature.overrides) {
    OrderedJson entries = OrderedJson::object();
    for (const auto& [variant, tree] : map) {
      entries[variant] = node_json(tree, seen.nodes);
      const NodeSeen* node = find_node(seen.nodes, tree);
      if (!node) continue;
      if (node->result == true && !matched) matched = &variant;
      if (!node->result && !undecided) {
        undecided = &variant;
        why = why_no_result(tree, *node);
      }
    }
    maps.push_back(std::move(entries));
  }
  step.details["overrides"] = std::move(maps);
  step.details["matched"] = matched ? OrderedJson(*matched) : OrderedJson();
  if (matched) {
    step.reason = "override matched variant " + *matched;
  } else if (pass_code(result) == "t.eval:err" && undecided) {
    step.reason =
        "override for " + *undecided + " has no result (" + why + "); later overrides not tried";
  } else {
    const size_t count = feature.overrides->size();
    step.reason =
        "no override matched (" + std::to_string(count) + (count == 1 ? " map)" : " maps)");
  }
}

// The group's answer and the reason, for a holdout or mutex group stage.
void describe_group(const StageSeen& seen, const Feature* group, bool is_holdout,
                    ExplainedStep& step) {
  if (!group) {
    step.details["group"] = nullptr;
    step.reason = is_holdout ? "no holdout group" : "no mutex group";
    return;
  }
  step.details["group"] = group->name;
  const Explanation* nested = seen.group ? &*seen.group : nullptr;
  const std::string gave =
      nested && nested->variant ? "gave " + *nested->variant : std::string("gave no variant");
  const std::string go_on =
      nested && !nested->events.empty() ? ": continue with its events" : ": continue";
  std::string answer;
  switch (step.outcome) {
    case StepOutcome::Error: answer = "error"; break;
    case StepOutcome::Decided:
      answer = "held out";
      step.reason = "held out by " + group->name;
      break;
    case StepOutcome::Continue:
      answer = is_holdout ? "control" : "assigned";
      step.reason = is_holdout ? group->name + " gave control_1" + go_on
                               : "mutex group " + group->name + " assigned this feature" + go_on;
      break;
    case StepOutcome::Pass:
      answer = "passed through";
      step.reason = group->name + " " + gave + ": not held out";
      break;
    case StepOutcome::Stop:
      answer = "not assigned";
      step.reason = "mutex group " + group->name +
                    (nested && nested->variant ? " assigned " + *nested->variant : " " + gave);
      break;
  }
  step.details["answer"] = answer;
  if (nested) step.details["explanation"] = explanation_json(*nested);
}

void describe_bucketing(const StageSeen& seen, ExplainedStep& step) {
  const Feature& feature = *seen.feature;
  if (!feature.variant_set) {
    step.details["bucket_val"] = nullptr;
    step.reason = "no variant set";
    return;
  }
  const VariantSet& set = *feature.variant_set;
  step.details["bucket_val"] =
      set.bucket_val ? OrderedJson(std::string(set.bucket_val->name())) : OrderedJson();
  if (!seen.bucketing) return;  // failed before drawing a bucket; the error says why
  const BucketSeen& drawn = *seen.bucketing;
  step.details["seed"] = drawn.seed;
  step.details["bucket"] = drawn.bucket;
  OrderedJson variants = OrderedJson::array();
  for (const Variant& variant : set.variants) {
    const uint16_t first = first_bucket_from(variant.range_start);
    const uint16_t end = first_bucket_from(variant.range_end);
    variants.push_back({
        {"name", variant.name},
        {"range", {as_written(variant.range_start), as_written(variant.range_end)}},
        {"buckets", first < end ? OrderedJson{first, end - 1} : OrderedJson()},
    });
  }
  step.details["variants"] = std::move(variants);
  step.details["matched"] = drawn.chosen ? OrderedJson(drawn.chosen->name) : OrderedJson();
  const std::string bucket = "bucket " + std::to_string(drawn.bucket);
  step.reason = drawn.chosen ? bucket + " falls in " + drawn.chosen->name + " [" +
                                   float_text(drawn.chosen->range_start) + ", " +
                                   float_text(drawn.chosen->range_end) + ")"
                             : bucket + " falls in no variant";
}

void describe_value(const Feature& feature, ExplainedStep& step) {
  step.details["value"] = feature.value ? OrderedJson(*feature.value) : OrderedJson();
  step.details["value_type"] = feature.value_type
                                   ? OrderedJson(std::string(value_type_text(*feature.value_type)))
                                   : OrderedJson();
  if (!feature.value) {
    step.reason = "no value configured";
  } else if (feature.value->is_null() || feature.value->is_array()) {
    step.reason =
        std::string("value is ") + (feature.value->is_null() ? "null" : "an array") + ": passed on";
  } else {
    step.reason = "value " + short_text(*feature.value);
    if (feature.value_type)
      step.reason += " (" + std::string(value_type_text(*feature.value_type)) + ")";
  }
}

}  // namespace

ExplainedStep describe_step(const StageSeen& seen, const StageResult& result) {
  ExplainedStep step{seen.stage, outcome_of(result), std::string(), OrderedJson::object()};
  const Feature& feature = *seen.feature;
  const VariantSet* set = feature.variant_set ? &*feature.variant_set : nullptr;
  switch (seen.stage) {
    case Stage::Darkmode:
      step.details["enabled"] = feature.enabled;
      step.reason = feature.enabled ? "feature enabled" : "feature disabled";
      break;
    case Stage::Locale:
      step.details["enabled"] = feature.enabled;
      step.reason = "locale is not checked: always passes";
      break;
    case Stage::Targeting: describe_targeting(seen, step); break;
    case Stage::Overrides: describe_overrides(seen, result, step); break;
    case Stage::Holdout:
      describe_group(seen, set ? set->holdout.get() : nullptr, true, step);
      break;
    case Stage::MutexGroup:
      describe_group(seen, set ? set->mutex_group.get() : nullptr, false, step);
      break;
    case Stage::FractionalAvailability: describe_bucketing(seen, step); break;
    case Stage::Value: describe_value(feature, step); break;
  }
  // An error is reported in choose's words, whatever the stage had got to.
  if (!result) step.reason = result.error().display();
  return step;
}

}  // namespace orvane
