#include "to_python.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "base/overloaded.h"
#include "config/experiment.h"
#include "context/context_field.h"
#include "events/experiment_event.h"

namespace nb = nanobind;

namespace orvane {
namespace {

// Whether every byte of the text is below 0x80, eight bytes at a time.
bool is_ascii(const char* text, size_t size) {
  uint64_t bits = 0;
  size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    uint64_t word;
    std::memcpy(&word, text + at, 8);
    bits |= word;
  }
  if (at < size && size >= 8) {
    uint64_t word;  // the last eight bytes, overlapping some already seen
    std::memcpy(&word, text + size - 8, 8);
    bits |= word;
  } else {
    for (; at < size; ++at) bits |= static_cast<unsigned char>(text[at]);
  }
  return (bits & 0x8080808080808080u) == 0;
}

// The compact text as a Python str, written straight into the str's own storage: its
// length is known exactly, and the text is nearly always ASCII, which a str keeps at one
// byte per character. Any other text is decoded as UTF-8 like every other text.
nb::str compact_text_to_python(const ExperimentEvent& record) {
  const size_t size = compact_text_size(record);
  nb::str text = nb::steal<nb::str>(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
  if (!text.is_valid()) throw nb::python_error();
  char* begin = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.ptr()));
  write_compact_text(begin, record);
  if (is_ascii(begin, size)) return text;
  return str_to_python(std::string_view(begin, size));
}

nb::dict field_and(const ContextField& field, const char* key, nb::object value) {
  nb::dict d;
  d["field"] = str_to_python(field.name());
  d[key] = std::move(value);
  return d;
}

nb::list trees_to_python(const std::vector<TargetingTree>& trees) {
  nb::list list;
  for (const TargetingTree& child : trees) list.append(targeting_to_python(child));
  return list;
}

nb::object overrides_to_python(const std::optional<std::vector<OverrideMap>>& overrides) {
  if (!overrides) return nb::none();
  nb::list list;
  for (const OverrideMap& map : *overrides) {
    nb::dict d;
    for (const auto& [variant, tree] : map) d[str_to_python(variant)] = targeting_to_python(tree);
    list.append(d);
  }
  return list;
}

// The dicts of the features already written in one call, by feature. A group shared by
// many members, or named as both holdout and mutex group, is written once and the same
// dict appears wherever it is a parent.
using BuiltDicts = std::unordered_map<const Feature*, nb::dict>;

nb::object parent_to_python(const std::shared_ptr<const Feature>& parent, const BuiltDicts& built) {
  if (!parent) return nb::none();
  return built.at(parent.get());
}

nb::object variant_set_to_python(const std::optional<VariantSet>& set, const BuiltDicts& built) {
  if (!set) return nb::none();
  nb::list variants;
  for (const Variant& variant : set->variants) {
    nb::dict v;
    v["name"] = str_to_python(variant.name);
    // A float widens to a double exactly, so 0.1f shows as 0.10000000149011612.
    v["range_start"] = nb::float_(static_cast<double>(variant.range_start));
    v["range_end"] = nb::float_(static_cast<double>(variant.range_end));
    variants.append(v);
  }
  nb::dict d;
  d["start_ts"] = nb::int_(set->start_ts);
  d["stop_ts"] = nb::int_(set->stop_ts);
  d["shuffle_version"] = nb::int_(set->shuffle_version);
  d["bucket_val"] = set->bucket_val ? nb::object(str_to_python(set->bucket_val->name())) : nb::none();
  d["variants"] = variants;
  d["holdout"] = parent_to_python(set->holdout, built);
  d["mutex_group"] = parent_to_python(set->mutex_group, built);
  return d;
}

// One feature's dict, its parents' dicts already in `built`.
nb::dict one_feature_to_python(const Feature& feature, const BuiltDicts& built) {
  nb::dict d;
  d["id"] = nb::int_(feature.id);
  d["name"] = str_to_python(feature.name);
  d["enabled"] = nb::bool_(feature.enabled);
  d["type"] = str_to_python(experiment_type_text(feature.type));
  d["version"] = nb::int_(feature.version);
  d["owner"] = str_to_python(feature.owner);
  d["emit_event"] = nb::bool_(feature.emit_event);
  d["platform_bitmask"] = nb::int_(feature.platform_bitmask);
  d["value"] = feature.value ? json_to_python(*feature.value) : nb::none();
  d["value_type"] = feature.value_type
                        ? nb::object(str_to_python(value_type_text(*feature.value_type)))
                        : nb::none();
  d["targeting"] = feature.targeting ? nb::object(targeting_to_python(*feature.targeting))
                                     : nb::none();
  d["overrides"] = overrides_to_python(feature.overrides);
  d["variant_set"] = variant_set_to_python(feature.variant_set, built);
  return d;
}

}  // namespace

nb::str str_to_python(std::string_view text) { return nb::str(text.data(), text.size()); }

nb::object json_to_python(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return nb::none();
    case Json::value_t::boolean:
      return nb::bool_(value.get_ref<const Json::boolean_t&>());
    case Json::value_t::number_integer:
      return nb::int_(value.get_ref<const Json::number_integer_t&>());
    case Json::value_t::number_unsigned:
      return nb::int_(value.get_ref<const Json::number_unsigned_t&>());
    case Json::value_t::number_float:
      return nb::float_(value.get_ref<const Json::number_float_t&>());
    case Json::value_t::string:
      return str_to_python(value.get_ref<const Json::string_t&>());
    case Json::value_t::array: {
      nb::list list;
      for (const Json& element : value.get_ref<const Json::array_t&>()) {
        list.append(json_to_python(element));
      }
      return list;
    }
    case Json::value_t::object:
      return json_object_to_python(value.get_ref<const Json::object_t&>());
    case Json::value_t::binary:
    case Json::value_t::discarded:
      break;
  }
  // The configuration reader never produces these; report rather than guess a form.
  PyErr_SetString(PyExc_TypeError, "JSON value has no Python form");
  throw nb::python_error();
}

nb::dict json_object_to_python(const JsonObject& object) {
  nb::dict d;
  for (const auto& [key, member] : object) d[str_to_python(key)] = json_to_python(member);
  return d;
}

nb::dict targeting_to_python(const TargetingTree& tree) {
  nb::object operand = std::visit(
      Overloaded{
          [](const AllNode& n) -> nb::object { return trees_to_python(n.children); },
          [](const AnyNode& n) -> nb::object { return trees_to_python(n.children); },
          [](const NotNode& n) -> nb::object { return targeting_to_python(*n.child); },
          [](const EqNode& n) -> nb::object {
            return std::visit(Overloaded{
                                  [](const EqOne& eq) {
                                    return field_and(eq.field, "value", json_to_python(eq.value));
                                  },
                                  [](const EqMany& eq) {
                                    nb::list values;
                                    for (const Json& v : eq.values) values.append(json_to_python(v));
                                    return field_and(eq.field, "values", values);
                                  },
                              },
                              n.eq);
          },
          [](const NeNode& n) -> nb::object {
            return field_and(n.field, "value", json_to_python(n.value));
          },
          [](const CompareNode& n) -> nb::object {
            return field_and(n.field, "value", nb::float_(n.value));
          },
      },
      tree.node);
  nb::dict d;
  d[str_to_python(operator_name(tree))] = operand;
  return d;
}

nb::dict feature_to_python(const Feature& root) {
  // Parents first, with a list of our own instead of recursion: a chain of groups may be
  // far deeper than the stack allows. The loader refuses cycles, so this ends.
  BuiltDicts built;
  std::vector<std::pair<const Feature*, bool>> pending{{&root, false}};
  while (!pending.empty()) {
    auto& [feature, parents_done] = pending.back();
    if (built.count(feature) != 0) {
      pending.pop_back();
      continue;
    }
    if (!parents_done) {
      parents_done = true;
      if (const auto& set = feature->variant_set) {
        // Pushed in reverse so the holdout group is written before the mutex group.
        for (const Feature* parent : {set->mutex_group.get(), set->holdout.get()}) {
          if (parent != nullptr && built.count(parent) == 0) pending.emplace_back(parent, false);
        }
      }
      continue;
    }
    const Feature* done = feature;
    pending.pop_back();
    built.emplace(done, one_feature_to_python(*done, built));
  }
  return built.at(&root);
}

nb::dict decision_dict(const std::optional<Decision>& decision) {
  nb::dict d;
  if (!decision || !decision->variant_name) return d;
  d["name"] = str_to_python(*decision->variant_name);
  d["id"] = str_to_python(std::to_string(decision->feature_id));
  d["version"] = str_to_python(std::to_string(decision->feature_version));
  d["experimentName"] = str_to_python(decision->feature_name);
  return d;
}

nb::dict value_dict(const std::optional<Decision>& decision) {
  nb::dict d;
  if (!decision) return d;
  d["name"] = str_to_python(decision->feature_name);
  d["type"] = str_to_python(decision->value_type ? value_type_display(*decision->value_type)
                                                 : std::string_view());
  nb::object value;
  try {
    value = json_to_python(decision->value);
  } catch (const nb::python_error&) {
    // The dict stays usable; the failure itself has no err slot to go to.
    value = nb::str("");
  }
  d["value"] = value;
  return d;
}

nb::list event_texts(const std::optional<Decision>& decision) {
  const size_t count = decision ? decision->events.size() : 0;
  // Made at its final length and filled in place, which appending would grow into.
  nb::list list = nb::steal<nb::list>(PyList_New(static_cast<Py_ssize_t>(count)));
  if (!list.is_valid()) throw nb::python_error();
  for (size_t i = 0; i < count; ++i) {
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i),
                    compact_text_to_python(decision->events.record(i)).release().ptr());
  }
  return list;
}

std::string conversion_failure_text(const nb::python_error& error) {
  // The exception's own message, without the traceback that what() would add.
  nb::handle value = error.value();
  PyObject* text = PyObject_Str(value.ptr());
  if (text == nullptr) {
    PyErr_Clear();
    return "conversion to Python objects failed";
  }
  nb::object owned = nb::steal(text);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return "conversion to Python objects failed";
  }
  return std::string(data, static_cast<size_t>(size));
}

}  // namespace orvane
