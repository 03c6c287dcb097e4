#pragma once
// The engine's JSON value: nlohmann::json, whose objects keep their keys sorted by byte
// order and whose numbers are unsigned, signed or floating. Helpers here give every layer
// one way to write a value as compact text, as its debug form, and to name its kind.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

#include "base/debug_text.h"

namespace orvane {

using Json = nlohmann::json;
using JsonObject = Json::object_t;

// Compact JSON text: standard writing, no blanks, non-ASCII kept as UTF-8.
std::string json_compact(const Json& value);
void append_json_compact(std::string& out, const Json& value);

// JSON string literal of `text` (quotes included), standard JSON escaping, appended to `out`.
void append_json_string(std::string& out, std::string_view text);

// The most bytes the JSON string literal of `text` can take: the quotes, and six bytes
// for each byte written as \u00XX.
constexpr size_t json_string_room(std::string_view text) { return 2 + 6 * text.size(); }
// Writes the literal at `at`, which has json_string_room(text) bytes; returns its end.
char* write_json_string(char* at, std::string_view text);

// Debug form: Null, Bool(true), Number(5), Number(2.5), String("x"), Array([...]),
// Object({"k": ...}).
std::string json_debug(const Json& value);
DebugNode json_debug_node(const Json& value);

// Kind name used in messages: "null", "bool", "number", "string", "array" or "object".
const char* json_kind_name(const Json& value);

// A double as debug texts show it: shortest round-trip digits, always with a fractional
// part or an exponent ("1.0", "2.5", "1e16", "1e-7"), "NaN", "inf", "-inf".
std::string float_debug(double value);

}  // namespace orvane
