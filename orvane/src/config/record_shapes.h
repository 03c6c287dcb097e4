#pragma once
// What the configuration reader knows about its records: the names of their keys in
// declaration order, which keys are required, the variant names of the
// enumerations, and where each key's value is stored. Shared by the parts of the reader.

#include <optional>
#include <string>
#include <string_view>

#include "base/overloaded.h"
#include "config/config_sax.h"

namespace orvane::config_detail {

using orvane::Overloaded;

// Keys of each record in declaration order, and the variant names of each enumeration in
// the order messages list them.
inline constexpr std::string_view kExperimentFields[] = {
    "id",       "name",     "enabled",  "version",    "owner",           "type",           "emit_event",
    "start_ts", "stop_ts",  "value",    "value_type", "parent_meg_name", "parent_hg_name", "experiment"};
inline constexpr std::string_view kInnerFields[] = {"experiment_version", "variants", "shuffle_version",
                                                    "bucket_val", "overrides", "targeting"};
inline constexpr std::string_view kVariantFields[] = {"name", "range_start", "range_end"};
inline constexpr std::string_view kPairFields[] = {"field", "value"};
inline constexpr std::string_view kTypeNames[] = {"dynamic_config", "range_variant", "feature_rollout"};
inline constexpr std::string_view kValueTypeNames[] = {"Boolean", "Integer", "Float", "String", "Text", "Map"};
inline constexpr std::string_view kTreeNames[] = {"ALL", "ANY", "NOT", "EQ", "NE", "GT", "LT", "GE", "LE"};

inline constexpr ExperimentType kTypes[] = {ExperimentType::DynamicConfig, ExperimentType::RangeVariant,
                                            ExperimentType::FeatureRollout};
inline constexpr ValueType kValueTypes[] = {ValueType::Boolean, ValueType::Integer, ValueType::Float,
                                            ValueType::String, ValueType::Text, ValueType::Map};
inline constexpr Comp kComps[] = {Comp::Gt, Comp::Lt, Comp::Ge, Comp::Le};

inline std::string type_variant_error(std::string_view name) {
  return unknown_variant(name, {kTypeNames[0], kTypeNames[1], kTypeNames[2]});
}
inline std::string value_type_variant_error(std::string_view name) {
  return unknown_variant(name, {kValueTypeNames[0], kValueTypeNames[1], kValueTypeNames[2],
                                kValueTypeNames[3], kValueTypeNames[4], kValueTypeNames[5]});
}
inline std::string tree_variant_error(std::string_view name) {
  return unknown_variant(name, {kTreeNames[0], kTreeNames[1], kTreeNames[2], kTreeNames[3],
                                kTreeNames[4], kTreeNames[5], kTreeNames[6], kTreeNames[7],
                                kTreeNames[8]});
}

template <size_t N>
inline std::optional<size_t> find_name(const std::string_view (&names)[N], std::string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == name) return i;
  }
  return std::nullopt;
}

struct RecordShape {
  const std::string_view* fields;
  size_t count;
  uint32_t required;  // bit i set: field i must be present in the object form
};

inline RecordShape shape_of(RecordKind kind) {
  switch (kind) {
    case RecordKind::Experiment: return {kExperimentFields, 14, 0x203f};
    case RecordKind::Inner: return {kInnerFields, 6, 0x1};
    case RecordKind::Variant: return {kVariantFields, 3, 0x7};
    case RecordKind::Ne:
    case RecordKind::Compare: return {kPairFields, 2, 0x3};
  }
  return {kPairFields, 2, 0x3};
}

inline std::string record_expectation(const RecordFrame& frame) {
  switch (frame.kind) {
    case RecordKind::Experiment: return "struct Experiment";
    case RecordKind::Inner: return "struct InnerExperiment";
    case RecordKind::Variant: return "struct Variant";
    case RecordKind::Ne: return "struct variant TargetingTree::NE";
    case RecordKind::Compare:
      return "struct variant TargetingTree::" +
             std::string(comp_name(std::get<CompareNode*>(frame.record)->op));
  }
  return "struct";
}

inline Target field_target(const RecordFrame& frame, size_t index) {
  return std::visit(
      Overloaded{
          [index](Experiment* e) -> Target {
            switch (index) {
              case 0: return &e->id;
              case 1: return &e->name;
              case 2: return &e->enabled;
              case 3: return &e->version;
              case 4: return &e->owner;
              case 5: return &e->type;
              case 6: return &e->emit_event;
              case 7: return &e->start_ts;
              case 8: return &e->stop_ts;
              case 9: return &e->value;
              case 10: return &e->value_type;
              case 11: return &e->parent_meg_name;
              case 12: return &e->parent_hg_name;
              default: return &e->experiment;
            }
          },
          [index](InnerExperiment* e) -> Target {
            switch (index) {
              case 0: return &e->experiment_version;
              case 1: return &e->variants;
              case 2: return &e->shuffle_version;
              case 3: return &e->bucket_val;
              case 4: return &e->overrides;
              default: return &e->targeting;
            }
          },
          [index](Variant* v) -> Target {
            switch (index) {
              case 0: return &v->name;
              case 1: return &v->range_start;
              default: return &v->range_end;
            }
          },
          [index](NeNode* n) -> Target {
            if (index == 0) return &n->field;
            return &n->value;
          },
          [index](CompareNode* n) -> Target {
            if (index == 0) return &n->field;
            return &n->value;
          },
      },
      frame.record);
}

// Targets that read a variant name: anything but a string or an object is no value at all
// for them, whatever it is.
inline bool wants_variant(const Target& target) {
  return std::holds_alternative<ExperimentType*>(target) ||
         std::holds_alternative<std::optional<ValueType>*>(target) ||
         std::holds_alternative<TargetingTree*>(target) ||
         std::holds_alternative<std::optional<TargetingTree>*>(target);
}

inline Json to_json(const Scalar& v) {
  switch (v.kind) {
    case Scalar::Kind::Null: return Json(nullptr);
    case Scalar::Kind::Bool: return Json(v.boolean);
    case Scalar::Kind::Unsigned: return Json(v.unsigned_value);
    case Scalar::Kind::Signed: return Json(v.signed_value);
    case Scalar::Kind::Float: return Json(v.float_value);
    case Scalar::Kind::String: return Json(std::string(v.text));
  }
  return Json(nullptr);
}

template <class T>
bool as_float(const Scalar& v, T& out) {
  switch (v.kind) {
    case Scalar::Kind::Unsigned: out = static_cast<T>(v.unsigned_value); return true;
    case Scalar::Kind::Signed: out = static_cast<T>(v.signed_value); return true;
    case Scalar::Kind::Float: out = static_cast<T>(v.float_value); return true;
    case Scalar::Kind::Null:
    case Scalar::Kind::Bool:
    case Scalar::Kind::String: return false;
  }
  return false;
}


}  // namespace orvane::config_detail
