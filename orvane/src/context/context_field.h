#pragma once
// ContextField names one field of a request context: one of thirteen fixed fields, or an
// entry of the free-form `other_fields` map (`Other`). Conversion from a name is total and
// exact: any text that is not one of the thirteen names, byte for byte, is an `Other`.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

enum class FixedField : uint8_t {
  UserId,
  DeviceId,
  CanonicalUrl,
  Locale,
  CountryCode,
  OriginService,
  AppName,
  UserIsEmployee,
  LoggedIn,
  BuildNumber,
  CookieCreatedTimestamp,
  LoidCreatedTimestamp,
  OauthClientId,
  Other,  // an entry of other_fields; the name is carried by the ContextField
};

class ContextField {
 public:
  static ContextField from_name(std::string_view name);
  static ContextField fixed(FixedField field) { return ContextField(field, {}); }

  FixedField kind() const { return kind_; }
  bool is_other() const { return kind_ == FixedField::Other; }
  // The name text: the fixed field's name, or the carried name of `Other`. Converting it
  // back with from_name gives an equal field.
  std::string_view name() const;

  friend bool operator==(const ContextField& a, const ContextField& b) {
    return a.kind_ == b.kind_ && a.other_name_ == b.other_name_;
  }

 private:
  ContextField(FixedField kind, std::string other_name)
      : kind_(kind), other_name_(std::move(other_name)) {}

  FixedField kind_;
  std::string other_name_;  // empty unless kind_ is Other
};

// The name text of a fixed field ("user_id", ...); "" for Other.
std::string_view fixed_field_name(FixedField field);

}  // namespace orvane
