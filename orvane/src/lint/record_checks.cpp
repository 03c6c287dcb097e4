// Checks of one record on its own. Each reports what the engine would do with the
// record as written, since nothing the engine does with it says so at load time.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/json.h"
#include "lint/checks.h"
#include "lint/field_types.h"
#include "lint/names.h"

namespace orvane::lint {
namespace {

void check_bucket_val(const std::string& key, const Experiment& record, std::vector<Finding>& out) {
  const std::optional<ContextField>& field = record.experiment.bucket_val;
  if (!field) {
    out.push_back(record_finding(
        Code::MissingBucketVal, Severity::Error, key, record, {"experiment"},
        "has no bucket_val: every decision that reaches bucketing fails with "
        "Missing \"bucket_val\" field in experiment config.",
        "name the context field users are bucketed by, e.g. \"bucket_val\": \"user_id\""));
    return;
  }
  if (std::optional<Finding> unknown =
          unknown_field_finding(key, record, {"experiment", "bucket_val"}, *field)) {
    out.push_back(std::move(*unknown));
  }
}

// Whether `value` is a value of `type` as the typed lookups read it.
bool fits(const Json& value, ValueType type) {
  switch (type) {
    case ValueType::Boolean: return value.is_boolean();
    // get_int reads signed 64-bit integers only.
    case ValueType::Integer:
      return value.is_number_unsigned()
                 ? value.get<uint64_t>() <= static_cast<uint64_t>(INT64_MAX)
                 : value.is_number_integer();
    case ValueType::Float: return value.is_number();
    case ValueType::String:
    case ValueType::Text: return value.is_string();
    case ValueType::Map: return value.is_object();
  }
  return false;  // unreachable: the switch covers every ValueType
}

std::string_view getter_of(ValueType type) {
  switch (type) {
    case ValueType::Boolean: return "get_bool";
    case ValueType::Integer: return "get_int";
    case ValueType::Float: return "get_float";
    case ValueType::String:
    case ValueType::Text: return "get_string";
    case ValueType::Map: return "get_map";
  }
  return "get_value";  // unreachable: the switch covers every ValueType
}

void check_value(const std::string& key, const Experiment& record, std::vector<Finding>& out) {
  auto report = [&](MemberPath path, std::string message, std::string hint) {
    out.push_back(record_finding(Code::ValueTypeMismatch, Severity::Error, key, record,
                                 std::move(path), std::move(message), std::move(hint)));
  };
  if (!record.value) {
    report({"type"}, "is a dynamic configuration without a value: it is never decided",
           "add \"value\" and \"value_type\"");
    return;
  }
  if (!record.value_type) {
    report({"value"}, "has a value but no value_type",
           "add \"value_type\": one of Boolean, Integer, Float, String, Text, Map");
    return;
  }
  const Json& value = *record.value;
  if (value.is_null() || value.is_array()) {
    report({"value"},
           std::string("value is ") + json_kind_name(value) +
               ", which the value stage never hands out: the configuration is never decided",
           "write a value of type " + std::string(value_type_text(*record.value_type)));
    return;
  }
  if (fits(value, *record.value_type)) return;
  report({"value"},
         "value " + json_compact(value) + " is not a " +
             std::string(value_type_text(*record.value_type)) + ": " +
             std::string(getter_of(*record.value_type)) +
             " fails with Dynamic Configuration Feature type mismatch.",
         record.value_type == ValueType::Boolean && value.is_string()
             ? "write true or false without quotes"
             : "make the value and value_type agree");
}

void check_overrides(const std::string& key, const Experiment& record, std::vector<Finding>& out) {
  if (!record.experiment.overrides) return;
  std::vector<std::string_view> names;
  for (const Variant& variant : record.experiment.variants) names.push_back(variant.name);
  const std::vector<OverrideMap>& maps = *record.experiment.overrides;
  for (size_t i = 0; i < maps.size(); ++i) {
    for (const auto& [variant, tree] : maps[i]) {
      bool known = false;
      for (std::string_view name : names) known = known || name == variant;
      if (known) continue;
      std::string hint;
      if (std::optional<std::string_view> guess = closest_name(variant, names)) {
        hint = "did you mean " + ticked(*guess) + "? ";
      }
      hint += hint.empty() ? "an override" : "An override";
      hint += " hands out the name it is keyed by, and logs an exposure for it";
      out.push_back(record_finding(Code::OverrideUnknownVariant, Severity::Error, key, record,
                                   {"experiment", "overrides", std::to_string(i), variant},
                                   "override " + ticked(variant) + " names no variant of " +
                                       ticked(record.name),
                                   std::move(hint)));
    }
  }
}

// Timestamps of the configuration are written in seconds or in milliseconds; a value
// that would be after the year 5000 in seconds is read as milliseconds.
int64_t to_ms(uint64_t timestamp) {
  constexpr uint64_t kLargestSeconds = 100'000'000'000;
  constexpr uint64_t kLargestMs = uint64_t{1} << 62;
  if (timestamp >= kLargestMs) return static_cast<int64_t>(kLargestMs);
  return static_cast<int64_t>(timestamp < kLargestSeconds ? timestamp * 1000 : timestamp);
}

std::string date_of(int64_t ms) {
  using namespace std::chrono;
  const sys_days day = floor<days>(sys_time<milliseconds>(milliseconds(ms)));
  const year_month_day date(day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

void check_schedule(const std::string& key, const Experiment& record, int64_t now_ms,
                    std::vector<Finding>& out) {
  // A stop of 0 is the default: no stop was written.
  if (record.stop_ts == 0) return;
  const int64_t start = to_ms(record.start_ts);
  const int64_t stop = to_ms(record.stop_ts);
  const std::string not_enforced =
      "the engine does not compare timestamps with the clock, so the experiment still "
      "assigns users; disable it (\"enabled\": false) to stop it";
  if (start > stop) {
    out.push_back(record_finding(Code::Schedule, Severity::Warning, key, record, {"start_ts"},
                                 "starts (" + date_of(start) + ") after it stops (" +
                                     date_of(stop) + ")",
                                 not_enforced));
  } else if (stop < now_ms) {
    out.push_back(record_finding(Code::Schedule, Severity::Warning, key, record, {"stop_ts"},
                                 "stopped on " + date_of(stop) + ", before " + date_of(now_ms),
                                 not_enforced));
  }
}

}  // namespace

void check_record(const std::string& key, const Experiment& record, int64_t now_ms,
                  std::vector<Finding>& out) {
  if (record.type == ExperimentType::DynamicConfig) {
    check_value(key, record, out);
    return;
  }
  check_bucket_val(key, record, out);
  check_overrides(key, record, out);
  check_schedule(key, record, now_ms, out);
}

}  // namespace orvane::lint
