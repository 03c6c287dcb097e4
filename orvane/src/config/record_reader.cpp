// Reads the records of experiment.h straight from the cursor. Each record kind is one
// schema table (member name, whether it must be given, how its value is read); its array
// form lists the members in the table's order. A typed reader's rules place each message:
// a scalar's where it ends, a whole record's once the reader has looked past its end.

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "config/config_reader.h"
#include "config/config_text.h"
#include "config/json_cursor.h"
#include "config/record_reader.h"

namespace orvane::config_detail {
namespace {

using Items = JsonCursor::Items;

constexpr std::string_view kTypeNames[] = {"dynamic_config", "range_variant", "feature_rollout"};
constexpr ExperimentType kTypes[] = {ExperimentType::DynamicConfig, ExperimentType::RangeVariant,
                                     ExperimentType::FeatureRollout};
constexpr std::string_view kValueTypeNames[] = {"Boolean", "Integer", "Float", "String", "Text", "Map"};
constexpr ValueType kValueTypes[] = {ValueType::Boolean, ValueType::Integer, ValueType::Float,
                                     ValueType::String,  ValueType::Text,    ValueType::Map};
constexpr std::string_view kTreeNames[] = {"ALL", "ANY", "NOT", "EQ", "NE", "GT", "LT", "GE", "LE"};

template <size_t N>
std::optional<size_t> find_name(const std::string_view (&names)[N], std::string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == name) return i;
  }
  return std::nullopt;
}

template <size_t N>
std::string unknown_name(std::string_view name, const std::string_view (&names)[N]) {
  return unknown_variant(name, std::span<const std::string_view>(names, N));
}

// The value of EQ is read whole, as written (members keep their order and repeats), and
// then matched against (field, value) and then (field, values); the first shape that fits
// wins, and a miss names neither attempt.
struct EqInput {
  bool object = false;
  std::vector<std::pair<std::string, Json>> members;
  std::vector<Json> items;
};

class Reader;

// One member of a record kind: its name, whether it must be given, and how its value is
// read into the record.
template <class R>
struct Member {
  std::string_view name;
  bool required;
  bool (*read)(Reader&, R&);
};

class Reader {
 public:
  explicit Reader(JsonCursor& in) : in_(in) {}

  bool config(ExperimentConfig& out);

  // Scalars. Each places its own message where the value ended.
  bool u32(uint32_t& out) { return whole(out, "u32"); }
  bool u64(uint64_t& out) { return whole(out, "u64"); }
  bool f32(float& out) { return floating(out, "f32"); }
  bool f64(double& out) { return floating(out, "f64"); }
  bool boolean(bool& out);
  bool text(std::string& out);
  bool field(ContextField& out);
  bool json(Json& out);

  // Null for absent, or the value.
  template <class T, class F>
  bool optional(std::optional<T>& out, F read) {
    if (in_.skip_blanks() == 'n') {
      in_.eat();
      out.reset();
      return in_.literal("ull");
    }
    if constexpr (std::is_same_v<T, ContextField>) {
      return read(out.emplace(ContextField::from_name("")));
    } else {
      return read(out.emplace());
    }
  }

  bool experiment_type(ExperimentType& out) { return plain_enum(kTypeNames, kTypes, out); }
  bool value_type(ValueType& out) { return plain_enum(kValueTypeNames, kValueTypes, out); }
  bool tree(TargetingTree& out);
  bool trees(std::vector<TargetingTree>& out) {
    return sequence(out, [this](TargetingTree& tree) { return this->tree(tree); });
  }
  bool inner(InnerExperiment& out);
  bool variants(std::vector<Variant>& out);
  bool overrides(std::vector<OverrideMap>& out);
  bool experiment(Experiment& out);

 private:
  template <class T>
  bool whole(T& out, std::string_view expected);
  template <class T>
  bool floating(T& out, std::string_view expected);
  template <size_t N>
  bool variant_head(const std::string_view (&names)[N], size_t& index, bool& object);
  template <class T, size_t N>
  bool plain_enum(const std::string_view (&names)[N], const T (&values)[N], T& out);
  bool unit();
  bool eq(EqNode& out);
  template <class R, size_t N>
  bool record(R& out, const Member<R> (&members)[N], std::string_view expected);
  template <class T, class F>
  bool sequence(std::vector<T>& out, F read);
  // A map's members, each read by `member(key)` after its colon.
  template <class F>
  bool map(std::string_view expected, F member);
  // A value that is a number (or fails as one): its scalar, or the failure.
  bool number_here(Scalar& out, std::string_view expected);

  JsonCursor& in_;
  // EQ values never hold another EQ, so one scratch input serves them all and keeps its
  // storage from one to the next.
  EqInput eq_input_;
};

// The schema tables. The array form of a record lists its members in this order.
constexpr Member<Variant> kVariantMembers[] = {
    {"name", true, [](Reader& r, Variant& v) { return r.text(v.name); }},
    {"range_start", true, [](Reader& r, Variant& v) { return r.f32(v.range_start); }},
    {"range_end", true, [](Reader& r, Variant& v) { return r.f32(v.range_end); }},
};

constexpr Member<InnerExperiment> kInnerMembers[] = {
    {"experiment_version", true, [](Reader& r, InnerExperiment& e) { return r.u32(e.experiment_version); }},
    {"variants", false, [](Reader& r, InnerExperiment& e) { return r.variants(e.variants); }},
    {"shuffle_version", false, [](Reader& r, InnerExperiment& e) { return r.u32(e.shuffle_version); }},
    {"bucket_val", false,
     [](Reader& r, InnerExperiment& e) {
       return r.optional(e.bucket_val, [&r](ContextField& f) { return r.field(f); });
     }},
    {"overrides", false,
     [](Reader& r, InnerExperiment& e) {
       return r.optional(e.overrides, [&r](std::vector<OverrideMap>& o) { return r.overrides(o); });
     }},
    {"targeting", false,
     [](Reader& r, InnerExperiment& e) {
       return r.optional(e.targeting, [&r](TargetingTree& t) { return r.tree(t); });
     }},
};

constexpr Member<Experiment> kExperimentMembers[] = {
    {"id", true, [](Reader& r, Experiment& e) { return r.u32(e.id); }},
    {"name", true, [](Reader& r, Experiment& e) { return r.text(e.name); }},
    {"enabled", true, [](Reader& r, Experiment& e) { return r.boolean(e.enabled); }},
    {"version", true, [](Reader& r, Experiment& e) { return r.text(e.version); }},
    {"owner", true, [](Reader& r, Experiment& e) { return r.text(e.owner); }},
    {"type", true, [](Reader& r, Experiment& e) { return r.experiment_type(e.type); }},
    {"emit_event", false, [](Reader& r, Experiment& e) { return r.boolean(e.emit_event); }},
    {"start_ts", false, [](Reader& r, Experiment& e) { return r.u64(e.start_ts); }},
    {"stop_ts", false, [](Reader& r, Experiment& e) { return r.u64(e.stop_ts); }},
    {"value", false,
     [](Reader& r, Experiment& e) { return r.optional(e.value, [&r](Json& j) { return r.json(j); }); }},
    {"value_type", false,
     [](Reader& r, Experiment& e) {
       return r.optional(e.value_type, [&r](ValueType& t) { return r.value_type(t); });
     }},
    {"parent_meg_name", false,
     [](Reader& r, Experiment& e) {
       return r.optional(e.parent_meg_name, [&r](std::string& s) { return r.text(s); });
     }},
    {"parent_hg_name", false,
     [](Reader& r, Experiment& e) {
       return r.optional(e.parent_hg_name, [&r](std::string& s) { return r.text(s); });
     }},
    {"experiment", true, [](Reader& r, Experiment& e) { return r.inner(e.experiment); }},
};

constexpr Member<NeNode> kNeMembers[] = {
    {"field", true, [](Reader& r, NeNode& n) { return r.field(n.field); }},
    {"value", true, [](Reader& r, NeNode& n) { return r.json(n.value); }},
};

constexpr Member<CompareNode> kCompareMembers[] = {
    {"field", true, [](Reader& r, CompareNode& n) { return r.field(n.field); }},
    {"value", true, [](Reader& r, CompareNode& n) { return r.f64(n.value); }},
};

bool Reader::number_here(Scalar& out, std::string_view expected) {
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  if (byte == '-') {
    in_.eat();
    return in_.number(true, out);
  }
  if (byte >= '0' && byte <= '9') return in_.number(false, out);
  return in_.invalid_type_here(expected);
}

template <class T>
bool Reader::whole(T& out, std::string_view expected) {
  Scalar v;
  if (!number_here(v, expected)) return false;
  if (v.kind == Scalar::Kind::Unsigned && v.unsigned_value <= std::numeric_limits<T>::max()) {
    out = static_cast<T>(v.unsigned_value);
    return true;
  }
  if (v.kind == Scalar::Kind::Float) return in_.fail(invalid_type(unexpected_text(v), expected));
  return in_.fail(invalid_value(unexpected_text(v), expected));
}

template <class T>
bool Reader::floating(T& out, std::string_view expected) {
  Scalar v;
  if (!number_here(v, expected)) return false;
  switch (v.kind) {
    case Scalar::Kind::Unsigned: out = static_cast<T>(v.unsigned_value); break;
    case Scalar::Kind::Signed: out = static_cast<T>(v.signed_value); break;
    case Scalar::Kind::Float: out = static_cast<T>(v.float_value); break;
    case Scalar::Kind::Null:
    case Scalar::Kind::Bool:
    case Scalar::Kind::String: break;
  }
  return true;
}

bool Reader::boolean(bool& out) {
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  if (byte != 't' && byte != 'f') return in_.invalid_type_here("a boolean");
  in_.eat();
  out = byte == 't';
  return in_.literal(out ? "rue" : "alse");
}

bool Reader::text(std::string& out) {
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  if (byte != '"') return in_.invalid_type_here("a string");
  in_.eat();
  std::string_view view;
  if (!in_.string(view)) return false;
  out.assign(view);
  return true;
}

bool Reader::field(ContextField& out) {
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  if (byte != '"') return in_.invalid_type_here("a string");
  in_.eat();
  std::string_view view;
  if (!in_.string(view)) return false;
  out = ContextField::from_name(view);
  return true;
}

bool Reader::json(Json& out) {
  int byte = in_.skip_blanks();
  Scalar v;
  switch (byte) {
    case JsonCursor::kEnd: return in_.fail("EOF while parsing a value");
    case 'n': in_.eat(); out = nullptr; return in_.literal("ull");
    case 't': in_.eat(); out = true; return in_.literal("rue");
    case 'f': in_.eat(); out = false; return in_.literal("alse");
    case '"': {
      in_.eat();
      std::string_view view;
      if (!in_.string(view)) return false;
      out = std::string(view);
      return true;
    }
    case '[': {
      if (!in_.enter()) return false;
      in_.eat();
      out = Json::array();
      auto& items = out.get_ref<Json::array_t&>();
      Items state;
      bool more = false;
      bool ok = true;
      while ((ok = in_.next_element(state, more)) && more) {
        if (!(ok = json(items.emplace_back()))) break;
      }
      in_.leave();
      return in_.end_sequence(ok) && ok;
    }
    case '{': {
      if (!in_.enter()) return false;
      in_.eat();
      out = Json::object();
      auto& members = out.get_ref<Json::object_t&>();
      Items state;
      bool more = false;
      bool ok = true;
      std::string_view key;
      while ((ok = in_.next_key(state, more, key)) && more) {
        // A member given twice keeps the later value.
        Json& slot = members[std::string(key)];
        if (!(ok = in_.colon() && json(slot))) break;
      }
      in_.leave();
      return in_.end_map(ok) && ok;
    }
    case '-':
      in_.eat();
      if (!in_.number(true, v)) return false;
      break;
    default:
      if (byte < '0' || byte > '9') return in_.fail("expected value");
      if (!in_.number(false, v)) return false;
      break;
  }
  switch (v.kind) {
    case Scalar::Kind::Unsigned: out = v.unsigned_value; break;
    case Scalar::Kind::Signed: out = v.signed_value; break;
    default: out = v.float_value; break;
  }
  return true;
}

bool Reader::unit() {
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  if (byte != 'n') return in_.invalid_type_here("unit");
  in_.eat();
  return in_.literal("ull");
}

// The name that opens a variant of an enumeration: written as a string, or as the one
// member of an object (`object` says which; the cursor is then inside the object, at the
// colon). Anything else is no value at all here.
template <size_t N>
bool Reader::variant_head(const std::string_view (&names)[N], size_t& index, bool& object) {
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  object = byte == '{';
  if (!object && byte != '"') return in_.fail("expected value");
  if (object) {
    if (!in_.enter()) return false;
    in_.eat();
    byte = in_.skip_blanks();
    if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
    if (byte != '"') return in_.invalid_type_here("variant identifier", /*named=*/true);
  }
  in_.eat();
  std::string_view name;
  if (!in_.string(name)) return false;
  std::optional<size_t> found = find_name(names, name);
  if (!found) return in_.fail(unknown_name(name, names));
  index = *found;
  return true;
}

// An enumeration of names: the name as a string, or an object holding the name with a
// null.
template <class T, size_t N>
bool Reader::plain_enum(const std::string_view (&names)[N], const T (&values)[N], T& out) {
  size_t index = 0;
  bool object = false;
  if (!variant_head(names, index, object)) return false;
  out = values[index];
  if (!object) return true;
  if (!in_.colon() || !unit()) return false;
  in_.leave();
  return in_.end_variant();
}

bool Reader::tree(TargetingTree& out) {
  size_t index = 0;
  bool object = false;
  if (!variant_head(kTreeNames, index, object)) return false;
  // A bare name has no operands, which every operator needs.
  if (!object) {
    return in_.fail_unplaced(index <= 3 ? "invalid type: unit variant, expected newtype variant"
                                        : "invalid type: unit variant, expected struct variant");
  }
  if (!in_.colon()) return false;
  bool ok = false;
  switch (index) {
    case 0: ok = trees(out.node.emplace<AllNode>().children); break;
    case 1: ok = trees(out.node.emplace<AnyNode>().children); break;
    case 2: {
      auto child = std::make_shared<TargetingTree>();
      ok = tree(*child);
      out.node.emplace<NotNode>(NotNode{std::move(child)});
      break;
    }
    case 3: ok = eq(out.node.emplace<EqNode>(EqNode{EqOne{ContextField::from_name(""), Json()}})); break;
    case 4:
      ok = record(out.node.emplace<NeNode>(NeNode{ContextField::from_name(""), Json()}), kNeMembers,
                  "struct variant TargetingTree::NE");
      break;
    default: {
      static constexpr Comp kComps[] = {Comp::Gt, Comp::Lt, Comp::Ge, Comp::Le};
      CompareNode& node =
          out.node.emplace<CompareNode>(CompareNode{kComps[index - 5], ContextField::from_name(""), 0.0});
      ok = record(node, kCompareMembers, "struct variant TargetingTree::" + std::string(kTreeNames[index]));
      break;
    }
  }
  if (!ok) return false;
  in_.leave();
  return in_.end_variant();
}

bool eq_field(const Json& value, std::optional<ContextField>& field) {
  const std::string* text = value.get_ptr<const std::string*>();
  if (text == nullptr) return false;
  field = ContextField::from_name(*text);
  return true;
}

// Takes the value(s) out of `in` when the shape fits; `many` asks for (field, values).
bool match_eq(EqInput& in, bool many, EqNode& out) {
  std::optional<ContextField> field;
  Json* value = nullptr;
  if (!in.object) {
    if (in.items.size() != 2 || !eq_field(in.items[0], field)) return false;
    value = &in.items[1];
  } else {
    bool seen_field = false;
    for (auto& [name, member] : in.members) {
      if (name == "field") {
        if (seen_field || !eq_field(member, field)) return false;
        seen_field = true;
      } else if (name == (many ? "values" : "value")) {
        if (value != nullptr) return false;
        if (many && !member.is_array()) return false;
        value = &member;
      }
    }
    if (!field || value == nullptr) return false;
  }
  if (!many) {
    out.eq = EqOne{std::move(*field), std::move(*value)};
    return true;
  }
  if (!value->is_array()) return false;
  out.eq = EqMany{std::move(*field), std::move(value->get_ref<Json::array_t&>())};
  return true;
}

bool Reader::eq(EqNode& out) {
  int byte = in_.skip_blanks();
  EqInput& input = eq_input_;
  input.object = false;
  input.members.clear();
  input.items.clear();
  if (byte == '{' || byte == '[') {
    if (!in_.enter()) return false;
    in_.eat();
    input.object = byte == '{';
    Items state;
    bool more = false;
    bool ok = true;
    if (input.object) {
      std::string_view key;
      while ((ok = in_.next_key(state, more, key)) && more) {
        auto& member = input.members.emplace_back(std::string(key), Json());
        if (!(ok = in_.colon() && json(member.second))) break;
      }
    } else {
      while ((ok = in_.next_element(state, more)) && more) {
        if (!(ok = json(input.items.emplace_back()))) break;
      }
    }
    in_.leave();
    if (!(input.object ? in_.end_map(ok) : in_.end_sequence(ok)) || !ok) return false;
  } else {
    Json scalar;
    if (!json(scalar)) return false;
  }
  if (match_eq(input, false, out) || match_eq(input, true, out)) return true;
  return in_.fail_unplaced("data did not match any variant of untagged enum EqEnum");
}

template <class R, size_t N>
bool Reader::record(R& out, const Member<R> (&members)[N], std::string_view expected) {
  static_assert(N <= 32);
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  if (byte != '{' && byte != '[') return in_.invalid_type_here(expected);
  if (!in_.enter()) return false;
  in_.eat();
  Items state;
  bool more = false;
  bool ok = true;
  if (byte == '[') {
    // The array form lists every member by place, so each position must be there.
    for (size_t i = 0; i < N && ok; ++i) {
      if (!(ok = in_.next_element(state, more))) break;
      if (!more) {
        ok = in_.fail_unplaced(invalid_length(i, std::string(expected) + " with " +
                                                     std::to_string(N) + " elements"));
        break;
      }
      ok = members[i].read(*this, out);
    }
    in_.leave();
    ok = in_.end_sequence(ok) && ok;
  } else {
    uint32_t seen = 0;
    std::string_view key;
    while ((ok = in_.next_key(state, more, key)) && more) {
      size_t i = 0;
      while (i < N && members[i].name != key) ++i;
      if (i == N) {
        if (!(ok = in_.colon() && in_.skip_value())) break;
        continue;
      }
      if (seen & (1u << i)) {
        ok = in_.fail_unplaced(duplicate_field(members[i].name));
        break;
      }
      seen |= 1u << i;
      if (!(ok = in_.colon() && members[i].read(*this, out))) break;
    }
    for (size_t i = 0; i < N && ok; ++i) {
      if (members[i].required && !(seen & (1u << i))) ok = in_.fail_unplaced(missing_field(members[i].name));
    }
    in_.leave();
    ok = in_.end_map(ok) && ok;
  }
  in_.place();
  return ok;
}

template <class T, class F>
bool Reader::sequence(std::vector<T>& out, F read) {
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  if (byte != '[') return in_.invalid_type_here("a sequence");
  if (!in_.enter()) return false;
  in_.eat();
  Items state;
  bool more = false;
  bool ok = true;
  while ((ok = in_.next_element(state, more)) && more) {
    if (!(ok = read(out.emplace_back()))) break;
  }
  in_.leave();
  ok = in_.end_sequence(ok) && ok;
  in_.place();
  return ok;
}

template <class F>
bool Reader::map(std::string_view expected, F member) {
  int byte = in_.skip_blanks();
  if (byte == JsonCursor::kEnd) return in_.fail("EOF while parsing a value");
  if (byte != '{') return in_.invalid_type_here(expected);
  if (!in_.enter()) return false;
  in_.eat();
  Items state;
  bool more = false;
  bool ok = true;
  std::string_view key;
  while ((ok = in_.next_key(state, more, key)) && more) {
    if (!(ok = member(key))) break;
  }
  in_.leave();
  ok = in_.end_map(ok) && ok;
  in_.place();
  return ok;
}

bool Reader::inner(InnerExperiment& out) { return record(out, kInnerMembers, "struct InnerExperiment"); }
bool Reader::experiment(Experiment& out) { return record(out, kExperimentMembers, "struct Experiment"); }

bool Reader::variants(std::vector<Variant>& out) {
  return sequence(out, [this](Variant& v) { return record(v, kVariantMembers, "struct Variant"); });
}

bool Reader::overrides(std::vector<OverrideMap>& out) {
  return sequence(out, [this](OverrideMap& overrides) {
    return map("a map", [&](std::string_view key) {
      // A variant named twice keeps the later tree.
      TargetingTree& slot = overrides[std::string(key)];
      slot = TargetingTree{};
      return in_.colon() && tree(slot);
    });
  });
}

bool Reader::config(ExperimentConfig& out) {
  std::unordered_map<std::string, size_t> index;
  bool ok = map("a map", [&](std::string_view key) {
    auto [it, added] = index.try_emplace(std::string(key), out.size());
    if (added) {
      out.emplace_back(it->first, Experiment{});
    } else {
      // A later record under the same key replaces the earlier one where it stood.
      out[it->second].second = Experiment{};
    }
    if (!in_.colon() || !experiment(out[it->second].second)) return false;
    in_.release_read();
    return true;
  });
  if (!ok) return false;
  if (in_.skip_blanks() != JsonCursor::kEnd) return in_.fail("trailing characters");
  return true;
}

}  // namespace

Result<ExperimentConfig, JsonError> read_config_text(std::string_view text, bool releasable) {
  JsonCursor in(text, releasable);
  ExperimentConfig config;
  if (!Reader(in).config(config)) return Unexpected{in.error()};
  return config;
}

}  // namespace orvane::config_detail
