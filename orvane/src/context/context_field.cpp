#include "context/context_field.h"

#include "context/fixed_fields.h"

namespace orvane {

std::string_view fixed_field_name(FixedField field) {
  if (field == FixedField::Other) return {};
  return fixed_field_info(field).name;
}

ContextField ContextField::from_name(std::string_view name) {
  for (const FixedFieldInfo& info : kFixedFields) {
    if (info.name == name) return fixed(info.field);
  }
  return ContextField(FixedField::Other, std::string(name));
}

std::string_view ContextField::name() const {
  if (kind_ == FixedField::Other) return other_name_;
  return fixed_field_name(kind_);
}

}  // namespace orvane
