// Methods of PyContext and of the result classes: err(), inspect() and the value readers.

#include <charconv>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/debug_text.h"
#include "base/json.h"
#include "callables.h"
#include "classes.h"
#include "context/context.h"
#include "engine/decision.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {
namespace {

nb::object text(const std::string& value) { return str_to_python(value); }

// A finished debug text, which may be many megabytes: its spare capacity goes before the
// Python copy is made, so the peak stays near twice the text.
nb::object long_text(std::string&& value) {
  value.shrink_to_fit();
  return str_to_python(value);
}

std::string err_debug(const OptionalError& err) { return error_debug_node(err).render(false); }

// Py(0x7f...): the object's address in lower-case hexadecimal.
std::string address_debug(nb::handle object) {
  char digits[2 * sizeof(uintptr_t)];
  auto address = reinterpret_cast<uintptr_t>(object.ptr());
  auto [end, ec] = std::to_chars(digits, digits + sizeof(digits), address, 16);
  (void)ec;  // the buffer holds every uintptr_t
  return "Py(0x" + std::string(digits, end) + ")";
}

DebugNode decision_node(const std::optional<Decision>& decision) {
  if (!decision) return DebugNode::optional(std::nullopt);
  return DebugNode::optional(decision_debug_node(*decision));
}

// PyContext

nb::object context_err(PyObject* self) { return err_to_python(payload<PyContext>(self).err); }

nb::object context_inspect(PyObject* self) {
  const PyContext& ctx = payload<PyContext>(self);
  std::string out = "err: " + error_debug_node(ctx.err).render(true) + " \ncontext: ";
  append_context_debug_pretty(out, ctx.context);
  return long_text(std::move(out));
}

// PyDecision

nb::object decision_inspect(PyObject* self) {
  const PyDecision& d = payload<PyDecision>(self);
  std::string out = "err: " + err_debug(d.err) + ", decision: ";
  decision_node(d.decision).render_into(out);
  return long_text(std::move(out));
}

nb::object decision_decision(PyObject* self) {
  const std::optional<Decision>& decision = payload<PyDecision>(self).decision;
  if (!decision || !decision->variant_name) return nb::none();
  return str_to_python(*decision->variant_name);
}

nb::object decision_decision_dict(PyObject* self) {
  return decision_dict(payload<PyDecision>(self).decision);
}

nb::object decision_value_dict(PyObject* self) {
  return value_dict(payload<PyDecision>(self).decision);
}

nb::object decision_events(PyObject* self) {
  return event_texts(payload<PyDecision>(self).decision);
}

nb::object decision_err(PyObject* self) { return err_to_python(payload<PyDecision>(self).err); }

// GetAllDecisionsRes

nb::object all_inspect(PyObject* self) {
  const GetAllDecisionsRes& res = payload<GetAllDecisionsRes>(self);
  // The layout of Some(map of PyDecision records), written one entry at a time: a tree of
  // every entry first, then its rendering, then the Python copy would peak at many times
  // the text for a thousand-feature answer.
  std::string out = "err: " + err_debug(res.err) + ", decisions: ";
  if (!res.decisions) {
    out += "None";
    return long_text(std::move(out));
  }
  auto entry = [](const std::string& name, const DecideResult& result) {
    OptionalError err;
    if (!result) err = engine_error(result.error());
    return std::pair(
        DebugNode::string(name),
        DebugNode::record("PyDecision",
                          {{"decision", result ? decision_node(*result) : decision_node(std::nullopt)},
                           {"err", error_debug_node(err)}}));
  };
  // Measured first, entry by entry, so the text is written into room reserved once.
  size_t size = out.size() + 8;
  for (const auto& [name, result] : *res.decisions) {
    auto [key, value] = entry(name, result);
    size += key.rendered_size() + value.rendered_size() + 4;
  }
  out.reserve(size);
  out += "Some({";
  bool first = true;
  for (const auto& [name, result] : *res.decisions) {
    if (!first) out += ", ";
    first = false;
    auto [key, value] = entry(name, result);
    key.render_into(out);
    out += ": ";
    value.render_into(out);
  }
  out += "})";
  return long_text(std::move(out));
}

nb::object all_decisions(PyObject* self) {
  const GetAllDecisionsRes& res = payload<GetAllDecisionsRes>(self);
  if (!res.decisions) return nb::none();
  nb::dict out;
  for (const auto& [name, result] : *res.decisions) {
    out[str_to_python(name)] = make_instance(to_py_decision(result));
  }
  return out;
}

nb::object all_err(PyObject* self) { return err_to_python(payload<GetAllDecisionsRes>(self).err); }

// GetExperimentRes

nb::object experiment_inspect(PyObject* self) {
  const GetExperimentRes& res = payload<GetExperimentRes>(self);
  std::string val = res.val.is_valid() ? "Some(" + address_debug(res.val) + ")" : "None";
  return text("err: " + err_debug(res.err) + ", val: " + val);
}

nb::object experiment_val(PyObject* self) {
  const GetExperimentRes& res = payload<GetExperimentRes>(self);
  if (!res.val.is_valid()) return nb::none();
  return res.val;  // the stored dict itself: a caller's changes are seen by later calls
}

nb::object experiment_err(PyObject* self) {
  return err_to_python(payload<GetExperimentRes>(self).err);
}

// GetBoolRes, GetIntegerRes, GetFloatRes, GetStringRes

template <class Res>
nb::object scalar_err(PyObject* self) {
  return err_to_python(payload<Res>(self).err);
}

template <class Res>
nb::object scalar_inspect(PyObject* self);

template <>
nb::object scalar_inspect<GetBoolRes>(PyObject* self) {
  const GetBoolRes& res = payload<GetBoolRes>(self);
  return text("err: " + err_debug(res.err) + ", val: " + (res.val ? "true" : "false"));
}

template <>
nb::object scalar_inspect<GetIntegerRes>(PyObject* self) {
  const GetIntegerRes& res = payload<GetIntegerRes>(self);
  return text("err: " + err_debug(res.err) + ", val: " + std::to_string(res.val));
}

template <>
nb::object scalar_inspect<GetFloatRes>(PyObject* self) {
  const GetFloatRes& res = payload<GetFloatRes>(self);
  return text("err: " + err_debug(res.err) + ", val: " + float_debug(res.val));
}

template <>
nb::object scalar_inspect<GetStringRes>(PyObject* self) {
  const GetStringRes& res = payload<GetStringRes>(self);
  return text("err: " + err_debug(res.err) + ", val: " + DebugNode::string(res.val).render());
}

nb::object bool_val(PyObject* self) { return nb::bool_(payload<GetBoolRes>(self).val); }
nb::object integer_val(PyObject* self) { return nb::int_(payload<GetIntegerRes>(self).val); }
nb::object float_val(PyObject* self) { return nb::float_(payload<GetFloatRes>(self).val); }
nb::object string_val(PyObject* self) { return str_to_python(payload<GetStringRes>(self).val); }

// GetMapRes

nb::object map_inspect(PyObject* self) {
  const GetMapRes& res = payload<GetMapRes>(self);
  return text("err: " + err_debug(res.err) + ", val: " + address_debug(res.val));
}

nb::object map_val(PyObject* self) {
  const GetMapRes& res = payload<GetMapRes>(self);
  if (!res.val.is_valid()) return nb::dict();  // only after the collector broke a cycle
  return res.val;  // the stored dict itself
}

nb::object map_err(PyObject* self) { return err_to_python(payload<GetMapRes>(self).err); }

template <class Res, NoArgsBody Val>
PyMethodDef* scalar_methods() {
  static PyMethodDef methods[] = {
      no_args_method<scalar_inspect<Res>>("inspect"),
      no_args_method<Val>("val"),
      no_args_method<scalar_err<Res>>("err"),
      kMethodsEnd,
  };
  return methods;
}

}  // namespace

PyMethodDef* pycontext_methods() {
  static PyMethodDef methods[] = {
      no_args_method<context_inspect>("inspect"),
      no_args_method<context_err>("err"),
      kMethodsEnd,
  };
  return methods;
}

PyMethodDef* pydecision_methods() {
  static PyMethodDef methods[] = {
      no_args_method<decision_inspect>("inspect"),
      no_args_method<decision_decision>("decision"),
      no_args_method<decision_decision_dict>("decision_dict"),
      no_args_method<decision_value_dict>("value_dict"),
      no_args_method<decision_events>("events"),
      no_args_method<decision_err>("err"),
      kMethodsEnd,
  };
  return methods;
}

PyMethodDef* get_all_decisions_res_methods() {
  static PyMethodDef methods[] = {
      no_args_method<all_inspect>("inspect"),
      no_args_method<all_decisions>("decisions"),
      no_args_method<all_err>("err"),
      kMethodsEnd,
  };
  return methods;
}

PyMethodDef* get_experiment_res_methods() {
  static PyMethodDef methods[] = {
      no_args_method<experiment_inspect>("inspect"),
      no_args_method<experiment_val>("val"),
      no_args_method<experiment_err>("err"),
      kMethodsEnd,
  };
  return methods;
}

PyMethodDef* get_bool_res_methods() { return scalar_methods<GetBoolRes, bool_val>(); }
PyMethodDef* get_integer_res_methods() { return scalar_methods<GetIntegerRes, integer_val>(); }
PyMethodDef* get_float_res_methods() { return scalar_methods<GetFloatRes, float_val>(); }
PyMethodDef* get_string_res_methods() { return scalar_methods<GetStringRes, string_val>(); }

PyMethodDef* get_map_res_methods() {
  static PyMethodDef methods[] = {
      no_args_method<map_inspect>("inspect"),
      no_args_method<map_val>("val"),
      no_args_method<map_err>("err"),
      kMethodsEnd,
  };
  return methods;
}

}  // namespace orvane
