// Conditions that can never hold, or never be decided, for the kind of value the field
// holds. The targeting stage counts an undecided tree as false and the overrides stage
// stops its search at one, so either way the condition silently keeps users out.

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/json.h"
#include "base/overloaded.h"
#include "engine/internal.h"
#include "lint/checks.h"
#include "lint/field_types.h"
#include "lint/names.h"
#include "lint/tree_text.h"

namespace orvane::lint {
namespace {

// A value of the kind the field holds; value_eq's "no result" depends on kinds only, so
// one sample tells whether a comparison can ever be decided.
std::optional<Json> sample(FieldKind kind) {
  switch (kind) {
    case FieldKind::String: return Json("text");
    case FieldKind::Boolean: return Json(true);
    case FieldKind::Int32:
    case FieldKind::Int64: return Json(1);
    case FieldKind::Unknown: return std::nullopt;
  }
  return std::nullopt;  // unreachable: the switch covers every FieldKind
}

bool integral(double value) { return std::isfinite(value) && value == std::floor(value); }

bool fits_int32(double value) { return value >= INT32_MIN && value <= INT32_MAX; }

// Whether the configured value `a` can ever equal a value of the field's kind. Only
// integer fields rule values out: a string field may hold any text, a boolean both.
bool may_equal(const Json& a, FieldKind kind) {
  if (a.is_null()) return kind == FieldKind::Unknown;
  if (kind != FieldKind::Int32 && kind != FieldKind::Int64) return true;
  std::optional<double> number;
  if (a.is_number()) number = a.get<double>();
  // A text that reads as no number equals no number.
  if (a.is_string()) number = parse_decimal(a.get<std::string>());
  if (!number) return !a.is_string();  // other kinds never compare: told as mismatches
  return integral(*number) && (kind == FieldKind::Int64 || fits_int32(*number));
}

struct Problem {
  Code code;
  std::string message;
  std::string hint;
};

const char* kUndecidedHint =
    "an undecided condition keeps users out of targeting and ends the search of overrides";

std::optional<Problem> mismatch(const TargetingTree& node, const ContextField& field,
                                FieldKind kind, std::string_view operand) {
  return Problem{Code::TreeTypeMismatch,
                 node_text(node) + " is never decided: " + std::string(field.name()) +
                     " holds " + field_kind_text(kind) + ", not " + std::string(operand),
                 kUndecidedHint};
}

std::optional<Problem> never(const TargetingTree& node, std::string why, std::string hint) {
  return Problem{Code::TreeNeverTrue, node_text(node) + " never holds: " + why, std::move(hint)};
}

std::string kind_of_value(const Json& value) {
  if (value.is_string()) return "a string";
  if (value.is_boolean()) return "a boolean";
  if (value.is_number()) return "a number";
  if (value.is_null()) return "null";
  if (value.is_array()) return "an array";
  return "an object";
}

// EQ with one value and NE compare the configured value first.
std::optional<Problem> check_one(const TargetingTree& node, const ContextField& field,
                                 const Json& value, bool is_eq) {
  const FieldKind kind = field_kind(field);
  if (value.is_array() || value.is_object()) {
    return mismatch(node, field, kind, kind_of_value(value));
  }
  std::optional<Json> typical = sample(kind);
  if (!typical) return std::nullopt;
  if (!value_eq(value, *typical).has_value()) {
    return mismatch(node, field, kind, kind_of_value(value));
  }
  if (is_eq && !may_equal(value, kind)) {
    return never(node, std::string(field.name()) + " holds " + field_kind_text(kind),
                 value.is_string() ? "write the number without quotes" : "");
  }
  return std::nullopt;
}

// EQ with several values compares the context's value first, against each in turn, and
// is undecided as soon as one comparison is.
std::optional<Problem> check_many(const TargetingTree& node, const EqMany& eq) {
  if (eq.values.empty()) return never(node, "the list of values is empty", "");
  const FieldKind kind = field_kind(eq.field);
  std::optional<Json> typical = sample(kind);
  if (!typical) return std::nullopt;
  bool any_may_equal = false;
  for (const Json& value : eq.values) {
    if (!value_eq(*typical, value).has_value()) {
      return mismatch(node, eq.field, kind, kind_of_value(value) + " (in the list)");
    }
    any_may_equal = any_may_equal || may_equal(value, kind);
  }
  if (!any_may_equal) {
    return never(node, std::string(eq.field.name()) + " holds " + field_kind_text(kind),
                 "write the numbers without quotes");
  }
  return std::nullopt;
}

std::optional<Problem> check_compare(const TargetingTree& node, const CompareNode& cmp) {
  const FieldKind kind = field_kind(cmp.field);
  switch (kind) {
    case FieldKind::Boolean:
    case FieldKind::String:
      return Problem{Code::TreeTypeMismatch,
                     node_text(node) + " reads " + std::string(cmp.field.name()) +
                         " as a number, but it holds " + field_kind_text(kind),
                     kind == FieldKind::String
                         ? "only texts that read as numbers compare; " + std::string(kUndecidedHint)
                         : std::string(kUndecidedHint)};
    case FieldKind::Int32: {
      const bool never_holds = (cmp.op == Comp::Gt && cmp.value >= INT32_MAX) ||
                               (cmp.op == Comp::Ge && cmp.value > INT32_MAX) ||
                               (cmp.op == Comp::Lt && cmp.value <= INT32_MIN) ||
                               (cmp.op == Comp::Le && cmp.value < INT32_MIN);
      if (never_holds) {
        return never(node, std::string(cmp.field.name()) + " is a 32-bit integer", "");
      }
      return std::nullopt;
    }
    case FieldKind::Int64:
    case FieldKind::Unknown: return std::nullopt;
  }
  return std::nullopt;  // unreachable: the switch covers every FieldKind
}

struct Pending {
  const TargetingTree* node;
  MemberPath path;
};

void check_tree(const std::string& key, const Experiment& record, const TargetingTree& root,
                MemberPath root_path, std::vector<Finding>& out) {
  // An explicit stack: trees are as deep as the document lets them be.
  std::vector<Pending> pending{{&root, std::move(root_path)}};
  while (!pending.empty()) {
    Pending item = std::move(pending.back());
    pending.pop_back();
    const TargetingTree& node = *item.node;
    MemberPath path = std::move(item.path);
    path.emplace_back(operator_name(node));
    auto push_children = [&](const std::vector<TargetingTree>& children) {
      // Reversed, so findings come out in document order.
      for (size_t i = children.size(); i-- > 0;) {
        MemberPath child = path;
        child.push_back(std::to_string(i));
        pending.push_back({&children[i], std::move(child)});
      }
    };
    const ContextField* field = nullptr;
    std::optional<Problem> problem = std::visit(
        Overloaded{
            [&](const AllNode& n) -> std::optional<Problem> {
              push_children(n.children);
              return std::nullopt;
            },
            [&](const AnyNode& n) -> std::optional<Problem> {
              push_children(n.children);
              if (n.children.empty()) return never(node, "ANY of nothing is false", "");
              return std::nullopt;
            },
            [&](const NotNode& n) -> std::optional<Problem> {
              pending.push_back({n.child.get(), path});
              return std::nullopt;
            },
            [&](const EqNode& n) -> std::optional<Problem> {
              return std::visit(Overloaded{[&](const EqOne& eq) {
                                             field = &eq.field;
                                             return check_one(node, eq.field, eq.value, true);
                                           },
                                           [&](const EqMany& eq) {
                                             field = &eq.field;
                                             return check_many(node, eq);
                                           }},
                                n.eq);
            },
            [&](const NeNode& n) -> std::optional<Problem> {
              field = &n.field;
              return check_one(node, n.field, n.value, false);
            },
            [&](const CompareNode& n) -> std::optional<Problem> {
              field = &n.field;
              return check_compare(node, n);
            },
        },
        node.node);
    if (field != nullptr) {
      MemberPath field_path = path;
      field_path.emplace_back("field");
      if (std::optional<Finding> unknown =
              unknown_field_finding(key, record, std::move(field_path), *field)) {
        out.push_back(std::move(*unknown));
      }
    }
    if (problem) {
      out.push_back(record_finding(problem->code, Severity::Warning, key, record, path,
                                   std::move(problem->message), std::move(problem->hint)));
    }
  }
}

}  // namespace

void check_trees(const std::string& key, const Experiment& record, std::vector<Finding>& out) {
  const InnerExperiment& inner = record.experiment;
  if (inner.targeting) check_tree(key, record, *inner.targeting, {"experiment", "targeting"}, out);
  if (!inner.overrides) return;
  for (size_t i = 0; i < inner.overrides->size(); ++i) {
    for (const auto& [variant, tree] : (*inner.overrides)[i]) {
      check_tree(key, record, tree, {"experiment", "overrides", std::to_string(i), variant}, out);
    }
  }
}

}  // namespace orvane::lint
