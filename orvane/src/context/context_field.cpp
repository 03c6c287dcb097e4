#include "context/context_field.h"

#include <array>

namespace orvane {
namespace {

constexpr std::array<std::pair<std::string_view, FixedField>, 13> kNames = {{
    {"user_id", FixedField::UserId},
    {"device_id", FixedField::DeviceId},
    {"canonical_url", FixedField::CanonicalUrl},
    {"locale", FixedField::Locale},
    {"country_code", FixedField::CountryCode},
    {"origin_service", FixedField::OriginService},
    {"app_name", FixedField::AppName},
    {"user_is_employee", FixedField::UserIsEmployee},
    {"logged_in", FixedField::LoggedIn},
    {"build_number", FixedField::BuildNumber},
    {"cookie_created_timestamp", FixedField::CookieCreatedTimestamp},
    {"loid_created_timestamp", FixedField::LoidCreatedTimestamp},
    {"oauth_client_id", FixedField::OauthClientId},
}};

}  // namespace

std::string_view fixed_field_name(FixedField field) {
  for (const auto& [name, value] : kNames) {
    if (value == field) return name;
  }
  return {};
}

ContextField ContextField::from_name(std::string_view name) {
  for (const auto& [text, value] : kNames) {
    if (text == name) return fixed(value);
  }
  return ContextField(FixedField::Other, std::string(name));
}

std::string_view ContextField::name() const {
  if (kind_ == FixedField::Other) return other_name_;
  return fixed_field_name(kind_);
}

}  // namespace orvane
