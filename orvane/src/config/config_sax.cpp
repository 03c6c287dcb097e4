#include "config/config_sax.h"


#include "config/record_shapes.h"

namespace orvane::config_detail {

bool ConfigSax::fail(std::variant<std::string, NestingTooDeep> message, Place place,
                     size_t offset) {
  if (place == Place::ValueStart) {
    place = Place::At;
    offset = value_start_after_string_ ? input_.string_start_before(value_start_) : value_start_;
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
  return scalar(Scalar{}, input_.consumed() - 4);
}

bool ConfigSax::boolean(bool value) {
  peeked_ = false;
  note_event(LastEvent::ValueEnd, input_.consumed());
  bare_value_ = true;
  Scalar s;
  s.kind = Scalar::Kind::Bool;
  s.boolean = value;
  return scalar(s, input_.consumed() - (value ? 4 : 5));
}

bool ConfigSax::number_unsigned(uint64_t value) {
  peeked_ = !input_.at_end();
  note_event(LastEvent::ValueEnd, input_.consumed() - (peeked_ ? 1 : 0));
  bare_value_ = true;
  Scalar s;
  s.kind = Scalar::Kind::Unsigned;
  s.unsigned_value = value;
  return number(s);
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
  return number(s);
}

bool ConfigSax::number_float(double value, const std::string& /*text*/) {
  peeked_ = !input_.at_end();
  note_event(LastEvent::ValueEnd, input_.consumed() - (peeked_ ? 1 : 0));
  bare_value_ = true;
  Scalar s;
  s.kind = Scalar::Kind::Float;
  s.float_value = value;
  return number(s);
}

bool ConfigSax::string(std::string& value) {
  peeked_ = false;
  note_event(LastEvent::ValueEnd, input_.consumed());
  Scalar s;
  s.kind = Scalar::Kind::String;
  s.text = value;
  // Where the string began is only worked out if a message needs it.
  return scalar(s, input_.consumed(), /*leading_zero=*/false, /*after_string=*/true);
}

bool ConfigSax::binary(Json::binary_t& /*value*/) { return fail("expected value"); }

bool ConfigSax::number(const Scalar& value) {
  CountingInput::BareRun run = input_.bare_run_ending_at(event_end_);
  return scalar(value, run.start, run.leading_zero);
}

bool ConfigSax::scalar(const Scalar& value, size_t start, bool leading_zero, bool after_string) {
  value_start_ = start;
  value_start_after_string_ = after_string;
  Target target;
  if (!take_target(target)) return false;
  if (leading_zero && !wants_variant(target)) return fail("invalid number");
  if (!store(target, value)) return false;
  value_done();
  note_skipping();
  return true;
}

void ConfigSax::note_skipping() {
  // After a number the parser has read one byte more, which may open a string.
  input_.set_skipping(!frames_.empty() && std::holds_alternative<SkipFrame>(frames_.back()),
                      peeked_ && input_.last_byte() == '"');
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

bool ConfigSax::start_object(size_t /*elements*/) {
  peeked_ = false;
  note_event(LastEvent::StartObject, input_.consumed());
  value_start_ = input_.consumed() - 1;
  value_start_after_string_ = false;
  Target target;
  if (!take_target(target)) return false;
  return open(target, true);
}

bool ConfigSax::start_array(size_t /*elements*/) {
  peeked_ = false;
  note_event(LastEvent::StartArray, input_.consumed());
  value_start_ = input_.consumed() - 1;
  value_start_after_string_ = false;
  Target target;
  if (!take_target(target)) return false;
  return open(target, false);
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
  // The parser reads the member's value next; its strings are not checked.
  input_.set_skipping(true, false);
  return true;
}

bool ConfigSax::enum_key(EnumFrame& frame, const std::string& name) {
  if (frame.state == EnumFrame::State::Done) {
    return fail("expected value", Place::At, input_.landmarks().last_comma());
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
  note_skipping();
  return true;
}

bool ConfigSax::finish_record(RecordFrame& frame) {
  RecordShape shape = shape_of(frame.kind);
  if (frame.array_form) {
    // The array form lists every field by place, so each position must be there; the
    // message names how many elements were given.
    if (frame.count < shape.count) {
      return fail(invalid_length(frame.count, record_expectation(frame) + " with " +
                                                  std::to_string(shape.count) + " elements"));
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
    }
  }
}

}  // namespace orvane::config_detail
