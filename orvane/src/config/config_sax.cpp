#include "config/config_sax.h"

#include <limits>
#include <string_view>

namespace orvane::config_detail {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// The nesting the reader accepts: 128 arrays and objects inside each other.
constexpr size_t kMaxDepth = 128;

constexpr std::string_view kExperimentFields[] = {
    "id",       "name",     "enabled",  "version",    "owner",           "type",           "emit_event",
    "start_ts", "stop_ts",  "value",    "value_type", "parent_meg_name", "parent_hg_name", "experiment"};
constexpr std::string_view kInnerFields[] = {"experiment_version", "variants", "shuffle_version",
                                             "bucket_val",         "overrides", "targeting"};
constexpr std::string_view kVariantFields[] = {"name", "range_start", "range_end"};
constexpr std::string_view kPairFields[] = {"field", "value"};
constexpr std::string_view kTypeNames[] = {"dynamic_config", "range_variant", "feature_rollout"};
constexpr std::string_view kValueTypeNames[] = {"Boolean", "Integer", "Float", "String", "Text", "Map"};
constexpr std::string_view kTreeNames[] = {"ALL", "ANY", "NOT", "EQ", "NE", "GT", "LT", "GE", "LE"};

constexpr ExperimentType kTypes[] = {ExperimentType::DynamicConfig, ExperimentType::RangeVariant,
                                     ExperimentType::FeatureRollout};
constexpr ValueType kValueTypes[] = {ValueType::Boolean, ValueType::Integer, ValueType::Float,
                                     ValueType::String,  ValueType::Text,    ValueType::Map};
constexpr Comp kComps[] = {Comp::Gt, Comp::Lt, Comp::Ge, Comp::Le};

std::string type_variant_error(std::string_view name) {
  return unknown_variant(name, {kTypeNames[0], kTypeNames[1], kTypeNames[2]});
}
std::string value_type_variant_error(std::string_view name) {
  return unknown_variant(name, {kValueTypeNames[0], kValueTypeNames[1], kValueTypeNames[2],
                                kValueTypeNames[3], kValueTypeNames[4], kValueTypeNames[5]});
}
std::string tree_variant_error(std::string_view name) {
  return unknown_variant(name, {kTreeNames[0], kTreeNames[1], kTreeNames[2], kTreeNames[3],
                                kTreeNames[4], kTreeNames[5], kTreeNames[6], kTreeNames[7],
                                kTreeNames[8]});
}

template <size_t N>
std::optional<size_t> find_name(const std::string_view (&names)[N], std::string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == name) return i;
  }
  return std::nullopt;
}

struct RecordShape {
  const std::string_view* fields;
  size_t count;
  uint32_t required;
  uint32_t defaulted;  // fields that take a default when absent
};

RecordShape shape_of(RecordKind kind) {
  switch (kind) {
    case RecordKind::Experiment: return {kExperimentFields, 14, 0x203f, 0x1c0};
    case RecordKind::Inner: return {kInnerFields, 6, 0x1, 0x6};
    case RecordKind::Variant: return {kVariantFields, 3, 0x7, 0};
    case RecordKind::Ne:
    case RecordKind::Compare: return {kPairFields, 2, 0x3, 0};
  }
  return {kPairFields, 2, 0x3, 0};
}

std::string record_expectation(const RecordFrame& frame) {
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

Target field_target(const RecordFrame& frame, size_t index) {
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
bool wants_variant(const Target& target) {
  return std::holds_alternative<ExperimentType*>(target) ||
         std::holds_alternative<std::optional<ValueType>*>(target) ||
         std::holds_alternative<TargetingTree*>(target) ||
         std::holds_alternative<std::optional<TargetingTree>*>(target);
}

Json to_json(const Scalar& v) {
  switch (v.kind) {
    case Scalar::Kind::Null: return Json(nullptr);
    case Scalar::Kind::Bool: return Json(v.boolean);
    case Scalar::Kind::Unsigned: return Json(v.unsigned_value);
    case Scalar::Kind::Signed: return Json(v.signed_value);
    case Scalar::Kind::Float: return Json(v.float_value);
    case Scalar::Kind::String: return Json(v.text);
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

}  // namespace

bool ConfigSax::fail(std::string message, Place place, size_t offset) {
  if (place == Place::ValueStart) {
    place = Place::At;
    offset = value_start_;
  }
  failure_ = Failure{std::move(message), place, offset};
  return false;
}

void ConfigSax::note_event(LastEvent event, size_t end_offset) {
  bare_value_ = false;
  last_event_ = event;
  event_end_ = end_offset;
}

bool ConfigSax::null() {
  peeked_ = false;
  note_event(LastEvent::ValueEnd, input_.consumed());
  bare_value_ = true;
  return scalar(Scalar{}, input_.consumed() - 4, false);
}

bool ConfigSax::boolean(bool value) {
  peeked_ = false;
  note_event(LastEvent::ValueEnd, input_.consumed());
  bare_value_ = true;
  Scalar s;
  s.kind = Scalar::Kind::Bool;
  s.boolean = value;
  return scalar(s, input_.consumed() - (value ? 4 : 5), false);
}

bool ConfigSax::number_unsigned(uint64_t value) {
  peeked_ = !input_.at_end();
  note_event(LastEvent::ValueEnd, input_.consumed() - (peeked_ ? 1 : 0));
  bare_value_ = true;
  Scalar s;
  s.kind = Scalar::Kind::Unsigned;
  s.unsigned_value = value;
  return scalar(s, input_.bare_start(), true);
}

bool ConfigSax::number_integer(int64_t value) {
  peeked_ = !input_.at_end();
  note_event(LastEvent::ValueEnd, input_.consumed() - (peeked_ ? 1 : 0));
  bare_value_ = true;
  Scalar s;
  // The parser reports "-0" as the integer 0; a minus zero is a float, like any negative
  // number that is not below zero.
  if (value == 0) {
    s.kind = Scalar::Kind::Float;
    s.float_value = -0.0;
  } else {
    s.kind = Scalar::Kind::Signed;
    s.signed_value = value;
  }
  return scalar(s, input_.bare_start(), true);
}

bool ConfigSax::number_float(double value, const std::string& /*text*/) {
  peeked_ = !input_.at_end();
  note_event(LastEvent::ValueEnd, input_.consumed() - (peeked_ ? 1 : 0));
  bare_value_ = true;
  Scalar s;
  s.kind = Scalar::Kind::Float;
  s.float_value = value;
  return scalar(s, input_.bare_start(), true);
}

bool ConfigSax::string(std::string& value) {
  peeked_ = false;
  note_event(LastEvent::ValueEnd, input_.consumed());
  Scalar s;
  s.kind = Scalar::Kind::String;
  s.text = std::move(value);
  return scalar(s, input_.string_start(), false);
}

bool ConfigSax::binary(Json::binary_t& /*value*/) { return fail("expected value"); }

bool ConfigSax::scalar(const Scalar& value, size_t start, bool is_number) {
  value_start_ = start;
  Target target;
  if (!take_target(target)) return false;
  if (is_number && input_.leading_zero() && !wants_variant(target)) return fail("invalid number");
  if (!store(target, value, is_number)) return false;
  value_done();
  return true;
}

bool ConfigSax::take_target(Target& target) {
  if (frames_.empty()) {
    top_taken_ = true;
    target = &out_;
    return true;
  }
  Frame& top = frames_.back();
  return std::visit(
      Overloaded{
          [&](RecordFrame& f) {
            if (!f.array_form) {
              target = f.next;
              return true;
            }
            if (f.count >= shape_of(f.kind).count) return fail("trailing characters", Place::ValueStart);
            target = field_target(f, f.count++);
            return true;
          },
          [&](MapFrame& f) {
            target = f.next;
            return true;
          },
          [&](SeqFrame& f) {
            ++f.count;
            std::visit([&](auto* seq) { target = &seq->emplace_back(); }, f.seq);
            return true;
          },
          [&](EnumFrame& f) {
            target = f.next;
            return true;
          },
          [&](JsonFrame& f) {
            if (f.object) {
              target = f.next;
            } else {
              target = &f.container->get_ref<Json::array_t&>().emplace_back();
            }
            return true;
          },
          [&](EqFrame& f) {
            if (f.input->object) {
              target = f.next;
            } else {
              target = &f.input->items.emplace_back();
            }
            return true;
          },
          [&](SkipFrame& f) {
            ++f.count;
            target = SkipValue{};
            return true;
          },
      },
      top);
}

bool ConfigSax::store(const Target& target, const Scalar& v, bool /*is_number*/) {
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
  auto tree_name = [&](const std::string& name) {
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

bool ConfigSax::start_object(size_t /*elements*/) {
  peeked_ = false;
  note_event(LastEvent::StartObject, input_.consumed());
  value_start_ = input_.consumed() - 1;
  Target target;
  if (!take_target(target)) return false;
  return open(target, true);
}

bool ConfigSax::start_array(size_t /*elements*/) {
  peeked_ = false;
  note_event(LastEvent::StartArray, input_.consumed());
  value_start_ = input_.consumed() - 1;
  Target target;
  if (!take_target(target)) return false;
  return open(target, false);
}

bool ConfigSax::open(const Target& target, bool object) {
  const char* unexpected = object ? "map" : "sequence";
  auto wrong = [&](std::string_view expected) { return fail(invalid_type(unexpected, expected)); };
  std::optional<Frame> frame;
  auto record = [&](RecordKind kind, auto* p) {
    RecordFrame f{kind, p, !object, 0, 0, SkipValue{}};
    frame = std::move(f);
    return true;
  };
  auto variant_frame = [&](EnumKind kind, auto dest) {
    if (!object) return fail("expected value", Place::ValueStart);
    EnumFrame f{kind, dest, EnumFrame::State::WantName, 0, 0, SkipValue{}};
    frame = std::move(f);
    return true;
  };
  auto sequence = [&](auto* seq) {
    if (object) return wrong("a sequence");
    frame = SeqFrame{seq};
    return true;
  };
  auto json = [&](Json* p) {
    *p = object ? Json::object() : Json::array();
    frame = JsonFrame{p, object, SkipValue{}};
    return true;
  };
  bool ok = std::visit(
      Overloaded{
          [&](SkipValue) {
            frame = SkipFrame{object};
            return true;
          },
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
            frame = MapFrame{p, {}, SkipValue{}};
            return true;
          },
          [&](TargetingTree* p) { return variant_frame(EnumKind::Tree, p); },
          [&](std::optional<TargetingTree>* p) {
            if (!object) return fail("expected value", Place::ValueStart);
            return variant_frame(EnumKind::Tree, &p->emplace());
          },
          [&](std::vector<TargetingTree>* p) { return sequence(p); },
          [&](EqNode* p) {
            auto input = std::make_unique<EqInput>();
            input->object = object;
            frame = EqFrame{p, std::move(input), SkipValue{}};
            return true;
          },
          [&](NeNode* p) { return record(RecordKind::Ne, p); },
          [&](CompareNode* p) { return record(RecordKind::Compare, p); },
          [&](ExperimentConfig* p) {
            if (!object) return wrong("a map");
            frame = MapFrame{p, {}, SkipValue{}};
            return true;
          },
      },
      target);
  if (!ok) return false;
  if (frames_.size() >= kMaxDepth) return fail("recursion limit exceeded");
  frames_.push_back(std::move(*frame));
  return true;
}

bool ConfigSax::key(std::string& name) {
  peeked_ = false;
  note_event(LastEvent::Key, input_.consumed());
  Frame& top = frames_.back();
  return std::visit(
      Overloaded{
          [&](RecordFrame& f) { return record_key(f, name); },
          [&](MapFrame& f) {
            if (OverrideMap** map = std::get_if<OverrideMap*>(&f.map)) {
              TargetingTree& tree = (**map)[name];
              tree = TargetingTree{};
              f.next = &tree;
              return true;
            }
            ExperimentConfig& config = *std::get<ExperimentConfig*>(f.map);
            auto [it, added] = f.index.try_emplace(name, config.size());
            if (added) {
              config.emplace_back(std::move(name), Experiment{});
            } else {
              // A later record under the same key replaces the earlier one where it stood.
              config[it->second].second = Experiment{};
            }
            f.next = &config[it->second].second;
            return true;
          },
          [&](SeqFrame&) { return fail("key must be a string"); },
          [&](EnumFrame& f) { return enum_key(f, name); },
          [&](JsonFrame& f) {
            Json& slot = f.container->get_ref<Json::object_t&>()[name];
            slot = Json();
            f.next = &slot;
            return true;
          },
          [&](EqFrame& f) {
            f.next = &f.input->members.emplace_back(std::move(name), Json()).second;
            return true;
          },
          [&](SkipFrame&) { return true; },
      },
      top);
}

bool ConfigSax::record_key(RecordFrame& frame, const std::string& name) {
  RecordShape shape = shape_of(frame.kind);
  for (size_t i = 0; i < shape.count; ++i) {
    if (shape.fields[i] != name) continue;
    uint32_t bit = 1u << i;
    // The record is abandoned at the repeated name; the reader places the message after
    // looking past it, as it does for every message that comes from a whole record.
    if (frame.seen & bit) return fail(duplicate_field(name), Place::NextNonBlank);
    frame.seen |= bit;
    frame.next = field_target(frame, i);
    return true;
  }
  frame.next = SkipValue{};
  return true;
}

bool ConfigSax::enum_key(EnumFrame& frame, const std::string& name) {
  if (frame.state == EnumFrame::State::Done) {
    return fail("expected value", Place::At, input_.last_comma());
  }
  switch (frame.kind) {
    case EnumKind::Type: {
      std::optional<size_t> index = find_name(kTypeNames, name);
      if (!index) return fail(type_variant_error(name));
      frame.choice = *index;
      frame.next = UnitValue{};
      break;
    }
    case EnumKind::ValueType: {
      std::optional<size_t> index = find_name(kValueTypeNames, name);
      if (!index) return fail(value_type_variant_error(name));
      frame.choice = *index;
      frame.next = UnitValue{};
      break;
    }
    case EnumKind::Tree: {
      std::optional<size_t> index = find_name(kTreeNames, name);
      if (!index) return fail(tree_variant_error(name));
      TargetingTree& tree = *std::get<TargetingTree*>(frame.dest);
      switch (*index) {
        case 0: frame.next = &tree.node.emplace<AllNode>().children; break;
        case 1: frame.next = &tree.node.emplace<AnyNode>().children; break;
        case 2: {
          auto child = std::make_shared<TargetingTree>();
          frame.next = child.get();
          tree.node.emplace<NotNode>(NotNode{std::move(child)});
          break;
        }
        case 3: frame.next = &tree.node.emplace<EqNode>(EqNode{EqOne{ContextField::from_name(""), Json()}}); break;
        case 4: frame.next = &tree.node.emplace<NeNode>(NeNode{ContextField::from_name(""), Json()}); break;
        default:
          frame.next = &tree.node.emplace<CompareNode>(
              CompareNode{kComps[*index - 5], ContextField::from_name(""), 0.0});
          break;
      }
      break;
    }
  }
  frame.state = EnumFrame::State::WantValue;
  return true;
}

bool ConfigSax::end_object() { return close(true); }
bool ConfigSax::end_array() { return close(false); }

bool ConfigSax::close(bool /*object*/) {
  peeked_ = false;
  note_event(LastEvent::ValueEnd, input_.consumed());
  Frame& top = frames_.back();
  bool ok = std::visit(
      Overloaded{
          [&](RecordFrame& f) { return finish_record(f); },
          [&](EnumFrame& f) { return finish_enum(f); },
          [&](EqFrame& f) { return finish_eq(f); },
          [&](auto&) { return true; },
      },
      top);
  if (!ok) return false;
  frames_.pop_back();
  if (frames_.empty()) {
    top_done_ = true;
  } else {
    value_done();
  }
  return true;
}

bool ConfigSax::finish_record(RecordFrame& frame) {
  RecordShape shape = shape_of(frame.kind);
  if (frame.array_form) {
    // A short array leaves the fields with defaults at their defaults; the first missing
    // field without one is reported by its place in the record.
    for (size_t i = frame.count; i < shape.count; ++i) {
      if (shape.defaulted & (1u << i)) continue;
      return fail(invalid_length(i, record_expectation(frame) + " with " + std::to_string(shape.count) +
                                        " elements"));
    }
    return true;
  }
  for (size_t i = 0; i < shape.count; ++i) {
    uint32_t bit = 1u << i;
    if ((shape.required & bit) && !(frame.seen & bit)) return fail(missing_field(shape.fields[i]));
  }
  return true;
}

bool ConfigSax::finish_enum(EnumFrame& frame) {
  if (frame.state != EnumFrame::State::Done) return fail("expected value");
  if (ExperimentType** type = std::get_if<ExperimentType*>(&frame.dest)) {
    **type = kTypes[frame.choice];
  } else if (auto** value_type = std::get_if<std::optional<ValueType>*>(&frame.dest)) {
    **value_type = kValueTypes[frame.choice];
  }
  return true;
}

bool ConfigSax::pending_variant(bool& optional) const {
  optional = false;
  if (frames_.empty()) return false;
  Target next;
  const Frame& top = frames_.back();
  if (const RecordFrame* record = std::get_if<RecordFrame>(&top)) {
    if (!record->array_form) {
      next = record->next;
    } else if (record->count < shape_of(record->kind).count) {
      next = field_target(*record, record->count);
    }
  } else if (const MapFrame* map = std::get_if<MapFrame>(&top)) {
    next = map->next;
  } else if (const SeqFrame* seq = std::get_if<SeqFrame>(&top)) {
    return std::holds_alternative<std::vector<TargetingTree>*>(seq->seq);
  } else if (const EnumFrame* variant = std::get_if<EnumFrame>(&top)) {
    next = variant->next;
  } else {
    return false;
  }
  optional = std::holds_alternative<std::optional<TargetingTree>*>(next) ||
             std::holds_alternative<std::optional<ValueType>*>(next);
  return wants_variant(next);
}

void ConfigSax::value_done() {
  if (frames_.empty()) return;
  if (EnumFrame* f = std::get_if<EnumFrame>(&frames_.back())) {
    if (f->state == EnumFrame::State::WantValue) {
      f->state = EnumFrame::State::Done;
      f->commas_at_done = input_.comma_count();
    }
  }
}

}  // namespace orvane::config_detail

namespace orvane::config_detail {
namespace {

// The value of EQ is read the way an untagged union is: as (field, value) first, then as
// (field, values); the first shape that fits wins, and a miss names neither attempt.
bool eq_field(const Json& value, std::optional<ContextField>& field) {
  const std::string* text = value.get_ptr<const std::string*>();
  if (text == nullptr) return false;
  field = ContextField::from_name(*text);
  return true;
}

std::optional<EqOne> as_eq_one(const EqInput& in) {
  std::optional<ContextField> field;
  const Json* value = nullptr;
  if (!in.object) {
    if (in.items.size() != 2 || !eq_field(in.items[0], field)) return std::nullopt;
    return EqOne{std::move(*field), in.items[1]};
  }
  bool seen_field = false;
  for (const auto& [name, member] : in.members) {
    if (name == "field") {
      if (seen_field || !eq_field(member, field)) return std::nullopt;
      seen_field = true;
    } else if (name == "value") {
      if (value != nullptr) return std::nullopt;
      value = &member;
    }
  }
  if (!field || value == nullptr) return std::nullopt;
  return EqOne{std::move(*field), *value};
}

std::optional<EqMany> as_eq_many(const EqInput& in) {
  std::optional<ContextField> field;
  const Json* values = nullptr;
  if (!in.object) {
    if (in.items.size() != 2 || !eq_field(in.items[0], field) || !in.items[1].is_array()) {
      return std::nullopt;
    }
    return EqMany{std::move(*field), in.items[1].get_ref<const Json::array_t&>()};
  }
  bool seen_field = false;
  for (const auto& [name, member] : in.members) {
    if (name == "field") {
      if (seen_field || !eq_field(member, field)) return std::nullopt;
      seen_field = true;
    } else if (name == "values") {
      if (values != nullptr || !member.is_array()) return std::nullopt;
      values = &member;
    }
  }
  if (!field || values == nullptr) return std::nullopt;
  return EqMany{std::move(*field), values->get_ref<const Json::array_t&>()};
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
