#pragma once
// The request context: fourteen optional facts about one request, built once by the
// binding and then only read. Any number of threads may read one context at once.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/json.h"
#include "context/context_field.h"

namespace orvane {

// Each fixed member has its row in context/fixed_fields.h (name, kind, and its place in the
// debug text, among make_ctx's keys and in exposure events), which every list of the fields
// is derived from: a member added here needs its row there.
struct Context {
  std::optional<std::string> user_id;
  std::optional<std::string> locale;
  std::optional<std::string> country_code;
  std::optional<std::string> device_id;
  std::optional<std::string> canonical_url;
  std::optional<std::string> origin_service;
  std::optional<bool> user_is_employee;
  std::optional<bool> logged_in;
  std::optional<std::string> app_name;
  std::optional<int32_t> build_number;
  std::optional<std::string> oauth_client_id;
  std::optional<int64_t> cookie_created_timestamp;
  std::optional<int64_t> loid_created_timestamp;
  std::optional<JsonObject> other_fields;
};

// A borrowed view of one field's value: absent, a string, a boolean, an integer, or a JSON
// value stored in other_fields. Valid while the context lives; copies nothing, so the hot
// path (bucketing, targeting) reads fields without allocating.
using FieldView =
    std::variant<std::monostate, std::string_view, bool, int64_t, const Json*>;

FieldView view_field(const ContextField& field, const Context& ctx);

// The field's value as a fresh JSON value; absent when the context lacks it. A JSON null
// stored in other_fields is a present null.
std::optional<Json> get_value(const ContextField& field, const Context& ctx);

// The identifier text of a present value: a string as it is, anything else as compact
// JSON text (12345, true, null, [1,2]). Appended to `out`.
void append_identifier_text(std::string& out, const FieldView& value);

// Single-line debug text: Context { user_id: Some("u1"), locale: None, ... }.
std::string context_debug(const Context& ctx);
// The same with one field per line, for inspect().
std::string context_debug_pretty(const Context& ctx);
// Appends that multi-line form to `out`, for texts built piece by piece.
void append_context_debug_pretty(std::string& out, const Context& ctx);

}  // namespace orvane
