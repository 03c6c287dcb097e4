#pragma once
// A targeting tree: a boolean expression over context fields, read from the configuration
// and never changed afterwards. Children are shared immutable nodes, so copying a tree is
// cheap and safe from any thread.

#include <memory>
#include <string_view>
#include <variant>
#include <vector>

#include "base/json.h"
#include "context/context_field.h"

namespace orvane {

struct TargetingTree;

struct AllNode {
  std::vector<TargetingTree> children;
};
struct AnyNode {
  std::vector<TargetingTree> children;
};
struct NotNode {
  std::shared_ptr<const TargetingTree> child;  // never null
};
struct EqOne {
  ContextField field;
  Json value;
};
struct EqMany {
  ContextField field;
  std::vector<Json> values;
};
struct EqNode {
  std::variant<EqOne, EqMany> eq;
};
struct NeNode {
  ContextField field;
  Json value;
};
// The four numeric comparisons, in the order the configuration lists them.
enum class Comp { Gt, Lt, Ge, Le };
struct CompareNode {
  Comp op;
  ContextField field;
  double value;
};

struct TargetingTree {
  std::variant<AllNode, AnyNode, NotNode, EqNode, NeNode, CompareNode> node;
};

// The operator's name as written in the configuration: "ALL", "ANY", "NOT", "EQ", "NE",
// "GT", "LT", "GE", "LE".
std::string_view operator_name(const TargetingTree& tree);
std::string_view comp_name(Comp op);

}  // namespace orvane
