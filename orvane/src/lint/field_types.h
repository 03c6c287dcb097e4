#pragma once
// What the checks know about context fields: the kind of value each fixed field holds,
// and whether a field name that reads from other_fields was meant as a fixed field.

#include <optional>
#include <string>

#include "context/context_field.h"
#include "lint/checks.h"

namespace orvane::lint {

// The value a fixed field holds; Unknown for an entry of other_fields, which may hold
// anything.
enum class FieldKind { String, Boolean, Int32, Int64, Unknown };
FieldKind field_kind(const ContextField& field);
// "a string", "a boolean", "an integer", "a value".
std::string field_kind_text(FieldKind kind);

// An unknown-field warning when `field` reads from other_fields but its name is a slip
// of a fixed field's name ("loggedin", "userId").
std::optional<Finding> unknown_field_finding(const std::string& key, const Experiment& record,
                                             MemberPath path, const ContextField& field);

}  // namespace orvane::lint
