#include "context/context.h"

#include <gtest/gtest.h>

#include "context/fixed_fields.h"

namespace orvane {
namespace {

TEST(ContextField, NamesRoundTripExactly) {
  const char* kNames[] = {"user_id",        "device_id",        "canonical_url",
                          "locale",         "country_code",     "origin_service",
                          "app_name",       "user_is_employee", "logged_in",
                          "build_number",   "cookie_created_timestamp",
                          "loid_created_timestamp", "oauth_client_id"};
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    ContextField field = ContextField::from_name(name);
    EXPECT_FALSE(field.is_other());
    EXPECT_EQ(field.name(), name);
  }
  struct Case { const char* name; const char* text; };
  const Case kOthers[] = {{"capitals", "USER_ID"}, {"trailing blank", "user_id "},
                          {"empty", ""}, {"free", "plan"}};
  for (const Case& c : kOthers) {
    SCOPED_TRACE(c.name);
    ContextField field = ContextField::from_name(c.text);
    EXPECT_TRUE(field.is_other());
    EXPECT_EQ(field.name(), c.text);
  }
  EXPECT_EQ(ContextField::from_name("user_id"), ContextField::fixed(FixedField::UserId));
  EXPECT_FALSE(ContextField::from_name("x") == ContextField::from_name("y"));
}

// Each field's row must point at the member of its own name: setting one member by hand
// makes that field, and only that one, present through the table.
TEST(FixedFields, EachRowReadsTheMemberOfItsName) {
  struct Case { const char* name; void (*set)(Context&); };
  const Case kCases[] = {
      {"user_id", [](Context& c) { c.user_id = "x"; }},
      {"device_id", [](Context& c) { c.device_id = "x"; }},
      {"canonical_url", [](Context& c) { c.canonical_url = "x"; }},
      {"locale", [](Context& c) { c.locale = "x"; }},
      {"country_code", [](Context& c) { c.country_code = "x"; }},
      {"origin_service", [](Context& c) { c.origin_service = "x"; }},
      {"app_name", [](Context& c) { c.app_name = "x"; }},
      {"user_is_employee", [](Context& c) { c.user_is_employee = true; }},
      {"logged_in", [](Context& c) { c.logged_in = false; }},
      {"build_number", [](Context& c) { c.build_number = 7; }},
      {"cookie_created_timestamp", [](Context& c) { c.cookie_created_timestamp = 7; }},
      {"loid_created_timestamp", [](Context& c) { c.loid_created_timestamp = 7; }},
      {"oauth_client_id", [](Context& c) { c.oauth_client_id = "x"; }},
  };
  ASSERT_EQ(std::size(kCases), kFixedFieldCount);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Context ctx;
    c.set(ctx);
    for (const FixedFieldInfo& info : kFixedFields) {
      const bool present = !std::holds_alternative<std::monostate>(
          view_field(ContextField::fixed(info.field), ctx));
      EXPECT_EQ(present, info.name == c.name) << info.name;
    }
    const std::string debug = context_debug(ctx);
    EXPECT_NE(debug.find(std::string(c.name) + ": Some("), std::string::npos) << debug;
    EXPECT_EQ(debug.find("Some("), debug.rfind("Some(")) << debug;
  }
}

TEST(Context, GetValue) {
  Context ctx;
  ctx.user_id = "u1";
  ctx.logged_in = false;
  ctx.build_number = -3;
  ctx.cookie_created_timestamp = 1700000000000;
  ctx.other_fields = JsonObject{{"user_id", "shadowed"}, {"plan", "pro"}, {"nothing", nullptr}};

  EXPECT_EQ(get_value(ContextField::from_name("user_id"), ctx), Json("u1"));
  EXPECT_EQ(get_value(ContextField::from_name("logged_in"), ctx), Json(false));
  std::optional<Json> build = get_value(ContextField::from_name("build_number"), ctx);
  ASSERT_TRUE(build && build->is_number_integer());
  EXPECT_EQ(build->get<int64_t>(), -3);
  std::optional<Json> cookie = get_value(ContextField::from_name("cookie_created_timestamp"), ctx);
  ASSERT_TRUE(cookie && cookie->is_number_unsigned());
  EXPECT_EQ(cookie->get<uint64_t>(), 1700000000000u);
  EXPECT_EQ(get_value(ContextField::from_name("locale"), ctx), std::nullopt);
  EXPECT_EQ(get_value(ContextField::from_name("plan"), ctx), Json("pro"));
  EXPECT_EQ(get_value(ContextField::from_name("missing"), ctx), std::nullopt);
  EXPECT_EQ(get_value(ContextField::from_name("nothing"), ctx), Json(nullptr));

  Context bare;
  EXPECT_EQ(get_value(ContextField::from_name("plan"), bare), std::nullopt);
}

TEST(Context, IdentifierText) {
  Context ctx;
  ctx.build_number = 12345;
  ctx.other_fields = JsonObject{{"b", true}, {"f", 1.5}, {"n", nullptr}, {"a", Json::array({1, "x"})}};
  struct Case { const char* field; const char* text; };
  const Case kCases[] = {{"build_number", "12345"}, {"b", "true"}, {"f", "1.5"},
                         {"n", "null"}, {"a", "[1,\"x\"]"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.field);
    std::string out;
    append_identifier_text(out, view_field(ContextField::from_name(c.field), ctx));
    EXPECT_EQ(out, c.text);
  }
}

TEST(Context, DebugTexts) {
  Context ctx;
  ctx.user_id = "u\"1";
  ctx.logged_in = true;
  ctx.build_number = 7;
  ctx.other_fields = JsonObject{{"k", "v"}};
  EXPECT_EQ(context_debug(ctx),
            "Context { user_id: Some(\"u\\\"1\"), locale: None, country_code: None, "
            "device_id: None, canonical_url: None, origin_service: None, "
            "user_is_employee: None, logged_in: Some(true), app_name: None, "
            "build_number: Some(7), oauth_client_id: None, cookie_created_timestamp: None, "
            "loid_created_timestamp: None, other_fields: Some({\"k\": String(\"v\")}) }");

  Context small;
  small.locale = "en";
  small.other_fields = JsonObject{{"b", true}};
  EXPECT_EQ(context_debug_pretty(small),
            "Context {\n"
            "    user_id: None,\n"
            "    locale: Some(\n"
            "        \"en\",\n"
            "    ),\n"
            "    country_code: None,\n"
            "    device_id: None,\n"
            "    canonical_url: None,\n"
            "    origin_service: None,\n"
            "    user_is_employee: None,\n"
            "    logged_in: None,\n"
            "    app_name: None,\n"
            "    build_number: None,\n"
            "    oauth_client_id: None,\n"
            "    cookie_created_timestamp: None,\n"
            "    loid_created_timestamp: None,\n"
            "    other_fields: Some(\n"
            "        {\n"
            "            \"b\": Bool(\n"
            "                true,\n"
            "            ),\n"
            "        },\n"
            "    ),\n"
            "}");
}

}  // namespace
}  // namespace orvane
