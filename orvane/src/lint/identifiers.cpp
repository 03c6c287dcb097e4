#include "lint/identifiers.h"

#include <charconv>
#include <cstdint>

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
  switch (field.kind()) {
    case FixedField::UserId: ctx.user_id = identifier; return std::nullopt;
    case FixedField::DeviceId: ctx.device_id = identifier; return std::nullopt;
    case FixedField::CanonicalUrl: ctx.canonical_url = identifier; return std::nullopt;
    case FixedField::Locale: ctx.locale = identifier; return std::nullopt;
    case FixedField::CountryCode: ctx.country_code = identifier; return std::nullopt;
    case FixedField::OriginService: ctx.origin_service = identifier; return std::nullopt;
    case FixedField::AppName: ctx.app_name = identifier; return std::nullopt;
    case FixedField::OauthClientId: ctx.oauth_client_id = identifier; return std::nullopt;
    case FixedField::UserIsEmployee: return set_flag(ctx.user_is_employee, identifier, field);
    case FixedField::LoggedIn: return set_flag(ctx.logged_in, identifier, field);
    case FixedField::BuildNumber: return set_integer(ctx.build_number, identifier, field);
    case FixedField::CookieCreatedTimestamp:
      return set_integer(ctx.cookie_created_timestamp, identifier, field);
    case FixedField::LoidCreatedTimestamp:
      return set_integer(ctx.loid_created_timestamp, identifier, field);
    case FixedField::Other:
      if (!ctx.other_fields) ctx.other_fields.emplace();
      (*ctx.other_fields)[std::string(field.name())] = std::string(identifier);
      return std::nullopt;
  }
  return std::nullopt;  // unreachable: the switch covers every FixedField
}

}  // namespace orvane::lint
