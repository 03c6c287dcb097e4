#include "config/targeting_tree.h"

namespace orvane {

std::string_view comp_name(Comp op) {
  switch (op) {
    case Comp::Gt: return "GT";
    case Comp::Lt: return "LT";
    case Comp::Ge: return "GE";
    case Comp::Le: return "LE";
  }
  return "GT";
}

std::string_view operator_name(const TargetingTree& tree) {
  struct Name {
    std::string_view operator()(const AllNode&) const { return "ALL"; }
    std::string_view operator()(const AnyNode&) const { return "ANY"; }
    std::string_view operator()(const NotNode&) const { return "NOT"; }
    std::string_view operator()(const EqNode&) const { return "EQ"; }
    std::string_view operator()(const NeNode&) const { return "NE"; }
    std::string_view operator()(const CompareNode& n) const { return comp_name(n.op); }
  };
  return std::visit(Name{}, tree.node);
}

}  // namespace orvane
