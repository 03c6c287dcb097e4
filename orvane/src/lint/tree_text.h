#pragma once
// Targeting trees written on one line for findings and diffs:
// ALL(EQ logged_in true, NOT(EQ user_is_employee true), GE build_number 1200).

#include <string>

#include "config/targeting_tree.h"

namespace orvane::lint {

// Documents nest at most 128 levels; findings show the first few.
inline constexpr int kMaxShownDepth = 32;

// Nesting deeper than `max_depth` levels is shown as "...".
std::string tree_text(const TargetingTree& tree, int max_depth = kMaxShownDepth);
// One condition (a leaf) or the operator of an inner node: "EQ country_code \"US\"".
std::string node_text(const TargetingTree& tree);

}  // namespace orvane::lint
