#include "context/context.h"

#include <charconv>

#include "base/debug_text.h"

namespace orvane {
namespace {

DebugNode context_debug_node(const Context& ctx) {
  auto str = [](const std::optional<std::string>& v) {
    return DebugNode::optional(v ? std::optional(DebugNode::string(*v)) : std::nullopt);
  };
  auto boolean = [](const std::optional<bool>& v) {
    return DebugNode::optional(v ? std::optional(DebugNode::leaf(*v ? "true" : "false"))
                                 : std::nullopt);
  };
  auto integer = [](const auto& v) {
    return DebugNode::optional(v ? std::optional(DebugNode::leaf(std::to_string(*v)))
                                 : std::nullopt);
  };
  std::optional<DebugNode> others;
  if (ctx.other_fields) {
    std::vector<std::pair<DebugNode, DebugNode>> entries;
    for (const auto& [key, value] : *ctx.other_fields) {
      entries.emplace_back(DebugNode::string(key), json_debug_node(value));
    }
    others = DebugNode::map(std::move(entries));
  }
  return DebugNode::record(
      "Context", {
                     {"user_id", str(ctx.user_id)},
                     {"locale", str(ctx.locale)},
                     {"country_code", str(ctx.country_code)},
                     {"device_id", str(ctx.device_id)},
                     {"canonical_url", str(ctx.canonical_url)},
                     {"origin_service", str(ctx.origin_service)},
                     {"user_is_employee", boolean(ctx.user_is_employee)},
                     {"logged_in", boolean(ctx.logged_in)},
                     {"app_name", str(ctx.app_name)},
                     {"build_number", integer(ctx.build_number)},
                     {"oauth_client_id", str(ctx.oauth_client_id)},
                     {"cookie_created_timestamp", integer(ctx.cookie_created_timestamp)},
                     {"loid_created_timestamp", integer(ctx.loid_created_timestamp)},
                     {"other_fields", DebugNode::optional(std::move(others))},
                 });
}

FieldView view_string(const std::optional<std::string>& v) {
  if (!v) return std::monostate{};
  return std::string_view(*v);
}

template <class T>
FieldView view_scalar(const std::optional<T>& v) {
  if (!v) return std::monostate{};
  if constexpr (std::is_same_v<T, bool>) {
    return *v;
  } else {
    return static_cast<int64_t>(*v);
  }
}

}  // namespace

FieldView view_field(const ContextField& field, const Context& ctx) {
  switch (field.kind()) {
    case FixedField::UserId: return view_string(ctx.user_id);
    case FixedField::DeviceId: return view_string(ctx.device_id);
    case FixedField::CanonicalUrl: return view_string(ctx.canonical_url);
    case FixedField::Locale: return view_string(ctx.locale);
    case FixedField::CountryCode: return view_string(ctx.country_code);
    case FixedField::OriginService: return view_string(ctx.origin_service);
    case FixedField::AppName: return view_string(ctx.app_name);
    case FixedField::UserIsEmployee: return view_scalar(ctx.user_is_employee);
    case FixedField::LoggedIn: return view_scalar(ctx.logged_in);
    case FixedField::BuildNumber: return view_scalar(ctx.build_number);
    case FixedField::CookieCreatedTimestamp: return view_scalar(ctx.cookie_created_timestamp);
    case FixedField::LoidCreatedTimestamp: return view_scalar(ctx.loid_created_timestamp);
    case FixedField::OauthClientId: return view_string(ctx.oauth_client_id);
    case FixedField::Other: {
      if (!ctx.other_fields) return std::monostate{};
      auto it = ctx.other_fields->find(field.name());
      if (it == ctx.other_fields->end()) return std::monostate{};
      return &it->second;
    }
  }
  return std::monostate{};
}

std::optional<Json> get_value(const ContextField& field, const Context& ctx) {
  FieldView view = view_field(field, ctx);
  struct ToJson {
    std::optional<Json> operator()(std::monostate) const { return std::nullopt; }
    std::optional<Json> operator()(std::string_view s) const { return Json(std::string(s)); }
    std::optional<Json> operator()(bool b) const { return Json(b); }
    std::optional<Json> operator()(int64_t i) const {
      // Integers keep the JSON value's convention: unsigned when non-negative.
      if (i >= 0) return Json(static_cast<uint64_t>(i));
      return Json(i);
    }
    std::optional<Json> operator()(const Json* j) const { return *j; }
  };
  return std::visit(ToJson{}, view);
}

void append_identifier_text(std::string& out, const FieldView& value) {
  struct Append {
    std::string& out;
    void operator()(std::monostate) const {}
    void operator()(std::string_view s) const { out.append(s); }
    void operator()(bool b) const { out += b ? "true" : "false"; }
    void operator()(int64_t i) const {
      char buffer[24];
      auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, i);
      (void)ec;
      out.append(buffer, end);
    }
    void operator()(const Json* j) const {
      if (j->is_string()) {
        out += j->get_ref<const std::string&>();
      } else {
        append_json_compact(out, *j);
      }
    }
  };
  std::visit(Append{out}, value);
}

std::string context_debug(const Context& ctx) { return context_debug_node(ctx).render(false); }

std::string context_debug_pretty(const Context& ctx) {
  return context_debug_node(ctx).render(true);
}

void append_context_debug_pretty(std::string& out, const Context& ctx) {
  context_debug_node(ctx).render_into(out, true);
}

}  // namespace orvane
