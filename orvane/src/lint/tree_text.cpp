#include "lint/tree_text.h"

#include <string_view>
#include <variant>

#include "base/json.h"
#include "base/overloaded.h"

namespace orvane::lint {
namespace {

std::string leaf(std::string_view op, const ContextField& field, const Json& value) {
  std::string out(op);
  out += ' ';
  out += field.name();
  out += ' ';
  append_json_compact(out, value);
  return out;
}

void append_tree(std::string& out, const TargetingTree& tree, int depth, int max_depth) {
  if (depth > max_depth) {
    out += "...";
    return;
  }
  auto children = [&](std::string_view op, const std::vector<TargetingTree>& nodes) {
    out += op;
    out += '(';
    for (size_t i = 0; i < nodes.size(); ++i) {
      if (i > 0) out += ", ";
      append_tree(out, nodes[i], depth + 1, max_depth);
    }
    out += ')';
  };
  std::visit(Overloaded{
                 [&](const AllNode& n) { children("ALL", n.children); },
                 [&](const AnyNode& n) { children("ANY", n.children); },
                 [&](const NotNode& n) {
                   out += "NOT(";
                   append_tree(out, *n.child, depth + 1, max_depth);
                   out += ')';
                 },
                 [&](const auto&) { out += node_text(tree); },
             },
             tree.node);
}

}  // namespace

std::string node_text(const TargetingTree& tree) {
  return std::visit(
      Overloaded{
          [](const AllNode&) { return std::string("ALL"); },
          [](const AnyNode&) { return std::string("ANY"); },
          [](const NotNode&) { return std::string("NOT"); },
          [](const EqNode& n) {
            return std::visit(
                Overloaded{[](const EqOne& eq) { return leaf("EQ", eq.field, eq.value); },
                           [](const EqMany& eq) {
                             return leaf("EQ", eq.field, Json(eq.values));
                           }},
                n.eq);
          },
          [](const NeNode& n) { return leaf("NE", n.field, n.value); },
          [](const CompareNode& n) { return leaf(comp_name(n.op), n.field, Json(n.value)); },
      },
      tree.node);
}

std::string tree_text(const TargetingTree& tree, int max_depth) {
  std::string out;
  append_tree(out, tree, 0, max_depth);
  return out;
}

}  // namespace orvane::lint
