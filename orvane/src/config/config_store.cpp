// Stores scalars into the records and opens the frame for an object or array, according
// to what the record wants at that place; and matches the value of EQ to its two shapes.

#include <limits>
#include <string_view>

#include "config/config_sax.h"
#include "config/record_shapes.h"

namespace orvane::config_detail {
bool ConfigSax::store(const Target& target, const Scalar& v) {
  using K = Scalar::Kind;
  auto wrong = [&](std::string_view expected) { return fail(invalid_type(unexpected_text(v), expected)); };
  auto whole = [&](auto* out, uint64_t max, std::string_view expected) {
    if (v.kind == K::Unsigned) {
      if (v.unsigned_value > max) return fail(invalid_value(unexpected_text(v), expected));
      *out = static_cast<std::remove_pointer_t<decltype(out)>>(v.unsigned_value);
      return true;
    }
    if (v.kind == K::Signed) return fail(invalid_value(unexpected_text(v), expected));
    return wrong(expected);
  };
  auto tree_name = [&](std::string_view name) {
    std::optional<size_t> index = find_name(kTreeNames, name);
    if (!index) return fail(tree_variant_error(name));
    return fail(*index <= 3 ? "invalid type: unit variant, expected newtype variant"
                            : "invalid type: unit variant, expected struct variant",
                Place::NextNonBlank);
  };
  return std::visit(
      Overloaded{
          [&](SkipValue) { return true; },
          [&](UnitValue) { return v.kind == K::Null || wrong("unit"); },
          [&](uint32_t* p) { return whole(p, std::numeric_limits<uint32_t>::max(), "u32"); },
          [&](uint64_t* p) { return whole(p, std::numeric_limits<uint64_t>::max(), "u64"); },
          [&](float* p) { return as_float(v, *p) || wrong("f32"); },
          [&](double* p) { return as_float(v, *p) || wrong("f64"); },
          [&](bool* p) {
            if (v.kind != K::Bool) return wrong("a boolean");
            *p = v.boolean;
            return true;
          },
          [&](std::string* p) {
            if (v.kind != K::String) return wrong("a string");
            *p = v.text;
            return true;
          },
          [&](std::optional<std::string>* p) {
            if (v.kind == K::Null) {
              p->reset();
              return true;
            }
            if (v.kind != K::String) return wrong("a string");
            *p = v.text;
            return true;
          },
          [&](ContextField* p) {
            if (v.kind != K::String) return wrong("a string");
            *p = ContextField::from_name(v.text);
            return true;
          },
          [&](std::optional<ContextField>* p) {
            if (v.kind == K::Null) {
              p->reset();
              return true;
            }
            if (v.kind != K::String) return wrong("a string");
            *p = ContextField::from_name(v.text);
            return true;
          },
          [&](Json* p) {
            *p = to_json(v);
            return true;
          },
          [&](std::optional<Json>* p) {
            if (v.kind == K::Null) {
              p->reset();
            } else {
              *p = to_json(v);
            }
            return true;
          },
          [&](ExperimentType* p) {
            if (v.kind != K::String) return fail("expected value", Place::ValueStart);
            std::optional<size_t> index = find_name(kTypeNames, v.text);
            if (!index) return fail(type_variant_error(v.text));
            *p = kTypes[*index];
            return true;
          },
          [&](std::optional<ValueType>* p) {
            if (v.kind == K::Null) {
              p->reset();
              return true;
            }
            if (v.kind != K::String) return fail("expected value", Place::ValueStart);
            std::optional<size_t> index = find_name(kValueTypeNames, v.text);
            if (!index) return fail(value_type_variant_error(v.text));
            *p = kValueTypes[*index];
            return true;
          },
          [&](Experiment*) { return wrong("struct Experiment"); },
          [&](InnerExperiment*) { return wrong("struct InnerExperiment"); },
          [&](Variant*) { return wrong("struct Variant"); },
          [&](std::vector<Variant>*) { return wrong("a sequence"); },
          [&](std::optional<std::vector<OverrideMap>>* p) {
            if (v.kind != K::Null) return wrong("a sequence");
            p->reset();
            return true;
          },
          [&](OverrideMap*) { return wrong("a map"); },
          [&](TargetingTree*) {
            if (v.kind != K::String) return fail("expected value", Place::ValueStart);
            return tree_name(v.text);
          },
          [&](std::optional<TargetingTree>* p) {
            if (v.kind == K::Null) {
              p->reset();
              return true;
            }
            if (v.kind != K::String) return fail("expected value", Place::ValueStart);
            return tree_name(v.text);
          },
          [&](std::vector<TargetingTree>*) { return wrong("a sequence"); },
          [&](EqNode*) {
            return fail("data did not match any variant of untagged enum EqEnum", Place::NextNonBlank);
          },
          [&](NeNode*) { return wrong("struct variant TargetingTree::NE"); },
          [&](CompareNode* p) {
            return wrong("struct variant TargetingTree::" + std::string(comp_name(p->op)));
          },
          [&](ExperimentConfig*) { return wrong("a map"); },
      },
      target);
}

bool ConfigSax::open(const Target& target, bool object) {
  const char* unexpected = object ? "map" : "sequence";
  auto wrong = [&](std::string_view expected) { return fail(invalid_type(unexpected, expected)); };
  // Frames go straight onto the stack; the depth is checked once the value's type is.
  auto push = [&](auto&& frame) {
    if (frames_.size() >= kMaxNesting) return fail(NestingTooDeep{});
    frames_.emplace_back(std::forward<decltype(frame)>(frame));
    return true;
  };
  auto record = [&](RecordKind kind, auto* p) {
    return push(RecordFrame{kind, p, !object, 0, 0, SkipValue{}});
  };
  auto variant_frame = [&](EnumKind kind, auto dest) {
    if (!object) return fail("expected value", Place::ValueStart);
    return push(EnumFrame{kind, dest, EnumFrame::State::WantName, 0, SkipValue{}});
  };
  auto sequence = [&](auto* seq) {
    if (object) return wrong("a sequence");
    return push(SeqFrame{seq});
  };
  auto json = [&](Json* p) {
    *p = object ? Json::object() : Json::array();
    return push(JsonFrame{p, object, SkipValue{}});
  };
  return std::visit(
      Overloaded{
          [&](SkipValue) { return push(SkipFrame{object}); },
          [&](UnitValue) { return wrong("unit"); },
          [&](uint32_t*) { return wrong("u32"); },
          [&](uint64_t*) { return wrong("u64"); },
          [&](float*) { return wrong("f32"); },
          [&](double*) { return wrong("f64"); },
          [&](bool*) { return wrong("a boolean"); },
          [&](std::string*) { return wrong("a string"); },
          [&](std::optional<std::string>*) { return wrong("a string"); },
          [&](ContextField*) { return wrong("a string"); },
          [&](std::optional<ContextField>*) { return wrong("a string"); },
          [&](Json* p) { return json(p); },
          [&](std::optional<Json>* p) { return json(&p->emplace()); },
          [&](ExperimentType* p) { return variant_frame(EnumKind::Type, p); },
          [&](std::optional<ValueType>* p) { return variant_frame(EnumKind::ValueType, p); },
          [&](Experiment* p) { return record(RecordKind::Experiment, p); },
          [&](InnerExperiment* p) { return record(RecordKind::Inner, p); },
          [&](Variant* p) { return record(RecordKind::Variant, p); },
          [&](std::vector<Variant>* p) { return sequence(p); },
          [&](std::optional<std::vector<OverrideMap>>* p) {
            if (object) return wrong("a sequence");
            return sequence(&p->emplace());
          },
          [&](OverrideMap* p) {
            if (!object) return wrong("a map");
            return push(MapFrame{p, {}, SkipValue{}});
          },
          [&](TargetingTree* p) { return variant_frame(EnumKind::Tree, p); },
          [&](std::optional<TargetingTree>* p) {
            if (!object) return fail("expected value", Place::ValueStart);
            return variant_frame(EnumKind::Tree, &p->emplace());
          },
          [&](std::vector<TargetingTree>* p) { return sequence(p); },
          [&](EqNode* p) {
            // EQ values never hold another EQ, so one scratch input serves them all and
            // keeps its storage from one to the next.
            eq_input_.object = object;
            eq_input_.members.clear();
            eq_input_.items.clear();
            return push(EqFrame{p, &eq_input_, SkipValue{}});
          },
          [&](NeNode* p) { return record(RecordKind::Ne, p); },
          [&](CompareNode* p) { return record(RecordKind::Compare, p); },
          [&](ExperimentConfig* p) {
            if (!object) return wrong("a map");
            return push(MapFrame{p, {}, SkipValue{}});
          },
      },
      target);
}

namespace {

// The value of EQ is read the way an untagged union is: as (field, value) first, then as
// (field, values); the first shape that fits wins, and a miss names neither attempt.
bool eq_field(const Json& value, std::optional<ContextField>& field) {
  const std::string* text = value.get_ptr<const std::string*>();
  if (text == nullptr) return false;
  field = ContextField::from_name(*text);
  return true;
}

// Both take the configured value(s) out of `in` when the shape fits, and leave it as it was
// when it does not.
std::optional<EqOne> as_eq_one(EqInput& in) {
  std::optional<ContextField> field;
  Json* value = nullptr;
  if (!in.object) {
    if (in.items.size() != 2 || !eq_field(in.items[0], field)) return std::nullopt;
    return EqOne{std::move(*field), std::move(in.items[1])};
  }
  bool seen_field = false;
  for (auto& [name, member] : in.members) {
    if (name == "field") {
      if (seen_field || !eq_field(member, field)) return std::nullopt;
      seen_field = true;
    } else if (name == "value") {
      if (value != nullptr) return std::nullopt;
      value = &member;
    }
  }
  if (!field || value == nullptr) return std::nullopt;
  return EqOne{std::move(*field), std::move(*value)};
}

std::optional<EqMany> as_eq_many(EqInput& in) {
  std::optional<ContextField> field;
  Json* values = nullptr;
  if (!in.object) {
    if (in.items.size() != 2 || !eq_field(in.items[0], field) || !in.items[1].is_array()) {
      return std::nullopt;
    }
    return EqMany{std::move(*field), std::move(in.items[1].get_ref<Json::array_t&>())};
  }
  bool seen_field = false;
  for (auto& [name, member] : in.members) {
    if (name == "field") {
      if (seen_field || !eq_field(member, field)) return std::nullopt;
      seen_field = true;
    } else if (name == "values") {
      if (values != nullptr || !member.is_array()) return std::nullopt;
      values = &member;
    }
  }
  if (!field || values == nullptr) return std::nullopt;
  return EqMany{std::move(*field), std::move(values->get_ref<Json::array_t&>())};
}

}  // namespace

bool ConfigSax::finish_eq(EqFrame& frame) {
  if (std::optional<EqOne> one = as_eq_one(*frame.input)) {
    frame.dest->eq = std::move(*one);
    return true;
  }
  if (std::optional<EqMany> many = as_eq_many(*frame.input)) {
    frame.dest->eq = std::move(*many);
    return true;
  }
  return fail("data did not match any variant of untagged enum EqEnum", Place::NextNonBlank);
}

}  // namespace orvane::config_detail
