#include "lint/field_types.h"

#include <string_view>
#include <utility>

#include "context/fixed_fields.h"
#include "lint/names.h"

namespace orvane::lint {

FieldKind field_kind(const ContextField& field) {
  if (field.is_other()) return FieldKind::Unknown;
  switch (fixed_field_info(field.kind()).value) {
    case FieldValue::String: return FieldKind::String;
    case FieldValue::Bool: return FieldKind::Boolean;
    case FieldValue::Int32: return FieldKind::Int32;
    case FieldValue::Int64: return FieldKind::Int64;
  }
  return FieldKind::Unknown;  // unreachable: the switch covers every FieldValue
}

std::string field_kind_text(FieldKind kind) {
  switch (kind) {
    case FieldKind::String: return "a string";
    case FieldKind::Boolean: return "a boolean";
    case FieldKind::Int32:
    case FieldKind::Int64: return "an integer";
    case FieldKind::Unknown: return "a value";
  }
  return "a value";  // unreachable: the switch covers every FieldKind
}

std::optional<Finding> unknown_field_finding(const std::string& key, const Experiment& record,
                                             MemberPath path, const ContextField& field) {
  if (!field.is_other()) return std::nullopt;
  std::optional<std::string_view> guess = closest_name(field.name(), kFixedFieldNames);
  if (!guess) return std::nullopt;
  return record_finding(Code::UnknownField, Severity::Warning, key, record, std::move(path),
                        ticked(field.name()) +
                            " is not a context field, so it is read from other_fields",
                        "did you mean " + ticked(*guess) + "?");
}

}  // namespace orvane::lint
