#include "lint/identifiers.h"

#include <charconv>
#include <cstdint>

#include "context/fixed_fields.h"

namespace orvane::lint {
namespace {

template <class Int>
std::optional<std::string> set_integer(std::optional<Int>& slot, std::string_view identifier,
                                       const ContextField& field) {
  Int value = 0;
  auto [end, ec] = std::from_chars(identifier.data(), identifier.data() + identifier.size(), value);
  if (ec != std::errc() || end != identifier.data() + identifier.size()) {
    return "\"" + std::string(identifier) + "\" is not an integer, as " +
           std::string(field.name()) + " needs";
  }
  slot = value;
  return std::nullopt;
}

std::optional<std::string> set_flag(std::optional<bool>& slot, std::string_view identifier,
                                    const ContextField& field) {
  if (identifier != "true" && identifier != "false") {
    return "\"" + std::string(identifier) + "\" is not true or false, as " +
           std::string(field.name()) + " needs";
  }
  slot = identifier == "true";
  return std::nullopt;
}

}  // namespace

ContextField identifier_field(const Feature& feature) {
  if (feature.variant_set && feature.variant_set->bucket_val) return *feature.variant_set->bucket_val;
  return ContextField::fixed(FixedField::UserId);
}

std::optional<std::string> set_identifier(Context& ctx, const ContextField& field,
                                          std::string_view identifier) {
  if (field.is_other()) {
    if (!ctx.other_fields) ctx.other_fields.emplace();
    (*ctx.other_fields)[std::string(field.name())] = std::string(identifier);
    return std::nullopt;
  }
  const FixedFieldInfo& info = fixed_field_info(field.kind());
  switch (info.value) {
    case FieldValue::String: ctx.*info.text = identifier; return std::nullopt;
    case FieldValue::Bool: return set_flag(ctx.*info.flag, identifier, field);
    case FieldValue::Int32: return set_integer(ctx.*info.int32, identifier, field);
    case FieldValue::Int64: return set_integer(ctx.*info.int64, identifier, field);
  }
  return std::nullopt;  // unreachable: the switch covers every FieldValue
}

}  // namespace orvane::lint
