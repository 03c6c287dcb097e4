#include <cstdint>
#include <limits>
#include <utility>

#include "engine/orvane.h"

namespace orvane {
namespace {

OrvaneError mismatch() { return OrvaneError{errors::ValueTypeMismatch{}}; }

// What get_all_values hands out for a configuration that could not be decided: the zero
// of its declared type, so callers can use the value without checking for failure.
Json default_value(const std::optional<ValueType>& type) {
  if (!type) return Json();
  switch (*type) {
    case ValueType::Boolean: return Json(false);
    case ValueType::Integer: return Json(static_cast<int64_t>(0));
    case ValueType::Float: return Json(0.0);
    case ValueType::String:
    case ValueType::Text: return Json(std::string());
    case ValueType::Map: return Json(JsonObject());
  }
  return Json();
}

Decision default_decision(const Feature& feature) {
  return Decision{
      .feature_id = feature.id,
      .feature_name = feature.name,
      .feature_version = feature.version,
      .variant_name = std::nullopt,
      .value = default_value(feature.value_type),
      .value_type = feature.value_type,
      .events = {},
  };
}

}  // namespace

Result<const Feature*, OrvaneError> feature_by_name(const Orvane& engine, std::string_view name) {
  const Feature* feature = engine.find_feature(name);
  if (!feature) return OrvaneError{errors::FeatureNotFoundWithName{std::string(name)}};
  return feature;
}

Result<Json, OrvaneError> get_value(const Orvane& engine, std::string_view name,
                                    const Context& ctx) {
  auto feature = feature_by_name(engine, name);
  if (!feature) return std::move(feature).error();
  DecideResult decided = decide(engine, **feature, ctx);
  if (!decided) return std::move(decided).error();
  // A configuration that yields nothing for this request is reported as misconfigured:
  // the caller asked for a value and there is none to give.
  if (!*decided) return OrvaneError{errors::InvalidFeature{}};
  // Only the value leaves: a typed lookup reports no exposure events.
  return std::move((*decided)->value);
}

Result<bool, OrvaneError> get_bool(const Orvane& engine, std::string_view name,
                                   const Context& ctx) {
  auto value = get_value(engine, name, ctx);
  if (!value) return std::move(value).error();
  if (!value->is_boolean()) return mismatch();
  return value->get_ref<const bool&>();
}

Result<int64_t, OrvaneError> get_int(const Orvane& engine, std::string_view name,
                                     const Context& ctx) {
  auto value = get_value(engine, name, ctx);
  if (!value) return std::move(value).error();
  // A number of the wrong form is a conversion failure, not a type mismatch: the caller
  // asked for a number and got one, just not one that is a 64-bit signed integer.
  switch (value->type()) {
    case Json::value_t::number_integer:
      return value->get_ref<const Json::number_integer_t&>();
    case Json::value_t::number_unsigned: {
      uint64_t n = value->get_ref<const Json::number_unsigned_t&>();
      if (n > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return OrvaneError{errors::NumberDeserialization{}};
      }
      return static_cast<int64_t>(n);
    }
    case Json::value_t::number_float:
      return OrvaneError{errors::NumberDeserialization{}};
    case Json::value_t::null:
    case Json::value_t::object:
    case Json::value_t::array:
    case Json::value_t::string:
    case Json::value_t::boolean:
    case Json::value_t::binary:
    case Json::value_t::discarded:
      return mismatch();
  }
  return mismatch();
}

Result<double, OrvaneError> get_float(const Orvane& engine, std::string_view name,
                                      const Context& ctx) {
  auto value = get_value(engine, name, ctx);
  if (!value) return std::move(value).error();
  if (value->is_number_float()) return value->get_ref<const Json::number_float_t&>();
  if (value->is_number_unsigned()) {
    return static_cast<double>(value->get_ref<const Json::number_unsigned_t&>());
  }
  if (value->is_number_integer()) {
    return static_cast<double>(value->get_ref<const Json::number_integer_t&>());
  }
  return mismatch();
}

Result<std::string, OrvaneError> get_string(const Orvane& engine, std::string_view name,
                                            const Context& ctx) {
  auto value = get_value(engine, name, ctx);
  if (!value) return std::move(value).error();
  if (!value->is_string()) return mismatch();
  return std::move(value->get_ref<std::string&>());
}

Result<JsonObject, OrvaneError> get_map(const Orvane& engine, std::string_view name,
                                        const Context& ctx) {
  auto value = get_value(engine, name, ctx);
  if (!value) return std::move(value).error();
  if (!value->is_object()) return mismatch();
  return std::move(value->get_ref<JsonObject&>());
}

std::unordered_map<std::string, Decision> get_all_values(const Orvane& engine, const Context& ctx) {
  std::unordered_map<std::string, Decision> values;
  for (const auto& feature : engine.features()) {
    if (feature->type != ExperimentType::DynamicConfig) continue;
    DecideResult decided = decide(engine, *feature, ctx);
    // A failure is not reported: the caller of a bulk lookup wants a usable value for
    // every configuration, and the default stands in for it.
    Decision decision = decided && *decided ? std::move(**decided) : default_decision(*feature);
    values.insert_or_assign(feature->name, std::move(decision));
  }
  return values;
}

}  // namespace orvane
