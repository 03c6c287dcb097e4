#include "config/experiment.h"

namespace orvane {

std::string_view experiment_type_text(ExperimentType type) {
  switch (type) {
    case ExperimentType::DynamicConfig: return "dynamic_config";
    case ExperimentType::RangeVariant: return "range_variant";
    case ExperimentType::FeatureRollout: return "feature_rollout";
  }
  return "range_variant";
}

std::string_view value_type_text(ValueType type) {
  switch (type) {
    case ValueType::Boolean: return "Boolean";
    case ValueType::Integer: return "Integer";
    case ValueType::Float: return "Float";
    case ValueType::String: return "String";
    case ValueType::Text: return "Text";
    case ValueType::Map: return "Map";
  }
  return "String";
}

std::string_view value_type_display(ValueType type) {
  switch (type) {
    case ValueType::Boolean: return "boolean";
    case ValueType::Integer: return "integer";
    case ValueType::Float: return "float";
    case ValueType::String:
    case ValueType::Text: return "string";
    case ValueType::Map: return "map";
  }
  return "string";
}

}  // namespace orvane
