#include "lint/field_types.h"

#include <string_view>
#include <utility>

#include "lint/names.h"

namespace orvane::lint {

FieldKind field_kind(const ContextField& field) {
  switch (field.kind()) {
    case FixedField::UserId:
    case FixedField::DeviceId:
    case FixedField::CanonicalUrl:
    case FixedField::Locale:
    case FixedField::CountryCode:
    case FixedField::OriginService:
    case FixedField::AppName:
    case FixedField::OauthClientId: return FieldKind::String;
    case FixedField::UserIsEmployee:
    case FixedField::LoggedIn: return FieldKind::Boolean;
    case FixedField::BuildNumber: return FieldKind::Int32;
    case FixedField::CookieCreatedTimestamp:
    case FixedField::LoidCreatedTimestamp: return FieldKind::Int64;
    case FixedField::Other: return FieldKind::Unknown;
  }
  return FieldKind::Unknown;  // unreachable: the switch covers every FixedField
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
  static constexpr std::string_view kFixed[] = {
      "user_id",       "device_id",        "canonical_url",
      "locale",        "country_code",     "origin_service",
      "app_name",      "user_is_employee", "logged_in",
      "build_number",  "cookie_created_timestamp", "loid_created_timestamp",
      "oauth_client_id"};
  std::optional<std::string_view> guess = closest_name(field.name(), kFixed);
  if (!guess) return std::nullopt;
  return record_finding(Code::UnknownField, Severity::Warning, key, record, std::move(path),
                        ticked(field.name()) +
                            " is not a context field, so it is read from other_fields",
                        "did you mean " + ticked(*guess) + "?");
}

}  // namespace orvane::lint
