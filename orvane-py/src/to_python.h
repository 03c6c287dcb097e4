#pragma once
// The one place where engine values become Python objects: JSON values, targeting trees,
// features and the dictionaries of a decision. Every function builds new objects and
// throws nanobind::python_error when the interpreter cannot build one (the callers turn
// that into GenericError where the module's contract asks for it).

#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.h"
#include "config/targeting_tree.h"
#include "engine/decision.h"
#include "model/feature.h"

namespace orvane {

nanobind::str str_to_python(std::string_view text);

// null -> None, booleans -> bool, integers (signed or unsigned) -> int, other numbers ->
// float, strings -> str, arrays -> list, objects -> dict in the object's (sorted) key order.
nanobind::object json_to_python(const Json& value);
nanobind::dict json_object_to_python(const JsonObject& object);

// {"ALL": [...]}, {"EQ": {"field": ..., "value": ...}}, {"GT": {"field": ..., "value": 5.0}}.
nanobind::dict targeting_to_python(const TargetingTree& tree);

// The thirteen keys "id" ... "variant_set" in declaration order; parents recursively.
nanobind::dict feature_to_python(const Feature& feature);

// {"name", "id", "version", "experimentName"} as str; {} without a decision or variant.
nanobind::dict decision_dict(const std::optional<Decision>& decision);
// {"name", "type", "value"}; {} without a decision. A value without a Python form is "".
nanobind::dict value_dict(const std::optional<Decision>& decision);
// A new list of the compact event texts; [] without a decision.
nanobind::list event_texts(const std::optional<Decision>& decision);

// The text of the Python error a conversion failed with, for GenericError.
std::string conversion_failure_text(const nanobind::python_error& error);

}  // namespace orvane
