// PyOrvane's methods. Each checks its arguments, forwards to one engine operation and wraps
// the answer, or the engine's error, in a result object; none raises for content errors.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "arguments.h"
#include "callables.h"
#include "classes.h"
#include "engine/orvane.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {
namespace {

const Signature<3> kChoose{"PyOrvane.choose", {"feature_name", "ctx", "identifier_type"}, 2};
const Signature<2> kChooseAll{"PyOrvane.choose_all", {"ctx", "identifier_type"}, 1};
const Signature<1> kGetExperiment{"PyOrvane.get_experiment", {"feature_name"}, 1};
const Signature<1> kGetAllValues{"PyOrvane.get_all_values", {"ctx"}, 1};

OptionalError not_found() { return PyOrvaneError{OrvaneNotFound{}}; }

const Context& context_argument(PyObject* value) {
  // The class lives as long as the module; looking it up once keeps a registry search off
  // every call.
  static const nb::handle context_type = nb::type<PyContext>();
  require_instance(value, context_type, "ctx", "PyContext");
  return payload<PyContext>(value).context;
}

// Any text names a context field: one of the thirteen fixed names, or an other_fields entry.
std::optional<ContextField> identifier_argument(PyObject* value) {
  std::optional<std::string_view> name = optional_str_argument(value, "identifier_type");
  if (!name) return std::nullopt;
  return ContextField::from_name(*name);
}

const std::optional<Orvane>& engine_of(PyObject* self) { return payload<PyOrvane>(self).engine; }

// get_all_values' decisions in the form choose_all answers with. Each entry is taken out of
// the engine's map, so its name is moved rather than copied.
AllDecisions as_decide_results(std::unordered_map<std::string, Decision> values) {
  std::vector<AllDecisions::Entry> decisions;
  decisions.reserve(values.size());
  while (!values.empty()) {
    auto entry = values.extract(values.begin());
    decisions.emplace_back(std::move(entry.key()),
                           std::optional<Decision>(std::move(entry.mapped())));
  }
  return AllDecisions(std::move(decisions));
}

nb::object err(PyObject* self) { return err_to_python(payload<PyOrvane>(self).err); }

nb::object choose(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto [name_arg, ctx_arg, identifier_arg] = kChoose.bind(args, nargs, kwnames);
  std::string_view name = str_argument(name_arg, "feature_name");
  const Context& ctx = context_argument(ctx_arg);
  std::optional<ContextField> identifier = identifier_argument(identifier_arg);

  const std::optional<Orvane>& engine = engine_of(self);
  if (!engine) return make_instance(PyDecision{std::nullopt, not_found()});
  // Built in place: the decision moves once, from the engine's answer into the instance.
  return make_instance_with<PyDecision>(
      [&] { return to_py_decision(orvane::choose(*engine, name, ctx, identifier)); });
}

nb::object choose_all(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  auto [ctx_arg, identifier_arg] = kChooseAll.bind(args, nargs, kwnames);
  const Context& ctx = context_argument(ctx_arg);
  std::optional<ContextField> identifier = identifier_argument(identifier_arg);

  const std::optional<Orvane>& engine = engine_of(self);
  if (!engine) return make_instance(GetAllDecisionsRes{std::nullopt, not_found()});
  return make_instance(GetAllDecisionsRes{orvane::choose_all(*engine, ctx, identifier), std::nullopt});
}

nb::object get_experiment(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  auto [name_arg] = kGetExperiment.bind(args, nargs, kwnames);
  std::string_view name = str_argument(name_arg, "feature_name");

  const std::optional<Orvane>& engine = engine_of(self);
  if (!engine) return make_instance(GetExperimentRes{nb::object(), not_found()});
  Result<const Feature*, OrvaneError> feature = feature_by_name(*engine, name);
  if (!feature) return make_instance(GetExperimentRes{nb::object(), engine_error(feature.error())});
  try {
    return make_instance(GetExperimentRes{feature_to_python(*feature.value()), std::nullopt});
  } catch (const nb::python_error& e) {
    return make_instance(
        GetExperimentRes{nb::object(), PyOrvaneError{GenericError{conversion_failure_text(e)}}});
  }
}

// The four scalar lookups share one shape: the value, or the default and the error.
template <class Res, class Value>
nb::object typed_lookup(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames, const char* function,
                        Result<Value, OrvaneError> (*lookup)(const Orvane&, std::string_view,
                                                             const Context&)) {
  const Signature<2> signature{function, {"feature_name", "ctx"}, 2};
  auto [name_arg, ctx_arg] = signature.bind(args, nargs, kwnames);
  std::string_view name = str_argument(name_arg, "feature_name");
  const Context& ctx = context_argument(ctx_arg);

  const std::optional<Orvane>& engine = engine_of(self);
  if (!engine) return make_instance(Res{{}, not_found()});
  Result<Value, OrvaneError> value = lookup(*engine, name, ctx);
  if (!value) return make_instance(Res{{}, engine_error(value.error())});
  return make_instance(Res{std::move(value).value(), std::nullopt});
}

nb::object get_bool(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return typed_lookup<GetBoolRes, bool>(self, args, nargs, kwnames, "PyOrvane.get_bool",
                                        &orvane::get_bool);
}

nb::object get_int(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return typed_lookup<GetIntegerRes, int64_t>(self, args, nargs, kwnames, "PyOrvane.get_int",
                                              &orvane::get_int);
}

nb::object get_float(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return typed_lookup<GetFloatRes, double>(self, args, nargs, kwnames, "PyOrvane.get_float",
                                           &orvane::get_float);
}

nb::object get_string(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  return typed_lookup<GetStringRes, std::string>(self, args, nargs, kwnames,
                                                 "PyOrvane.get_string", &orvane::get_string);
}

nb::object get_map(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Signature<2> signature{"PyOrvane.get_map", {"feature_name", "ctx"}, 2};
  auto [name_arg, ctx_arg] = signature.bind(args, nargs, kwnames);
  std::string_view name = str_argument(name_arg, "feature_name");
  const Context& ctx = context_argument(ctx_arg);

  const std::optional<Orvane>& engine = engine_of(self);
  if (!engine) return make_instance(GetMapRes{nb::dict(), not_found()});
  Result<JsonObject, OrvaneError> map = orvane::get_map(*engine, name, ctx);
  if (!map) return make_instance(GetMapRes{nb::dict(), engine_error(map.error())});
  try {
    return make_instance(GetMapRes{json_object_to_python(map.value()), std::nullopt});
  } catch (const nb::python_error& e) {
    return make_instance(
        GetMapRes{nb::dict(), PyOrvaneError{GenericError{conversion_failure_text(e)}}});
  }
}

nb::object get_all_values(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  auto [ctx_arg] = kGetAllValues.bind(args, nargs, kwnames);
  const Context& ctx = context_argument(ctx_arg);

  const std::optional<Orvane>& engine = engine_of(self);
  if (!engine) return make_instance(GetAllDecisionsRes{std::nullopt, not_found()});
  return make_instance(
      GetAllDecisionsRes{as_decide_results(orvane::get_all_values(*engine, ctx)), std::nullopt});
}

}  // namespace

PyMethodDef* pyorvane_methods() {
  static PyMethodDef methods[] = {
      no_args_method<err>("err"),
      fast_method<choose>("choose",
                          "choose($self, feature_name, ctx, identifier_type=None)\n--\n\n"),
      fast_method<choose_all>("choose_all", "choose_all($self, ctx, identifier_type=None)\n--\n\n"),
      fast_method<get_experiment>("get_experiment", "get_experiment($self, feature_name)\n--\n\n"),
      fast_method<get_bool>("get_bool", "get_bool($self, feature_name, ctx)\n--\n\n"),
      fast_method<get_int>("get_int", "get_int($self, feature_name, ctx)\n--\n\n"),
      fast_method<get_float>("get_float", "get_float($self, feature_name, ctx)\n--\n\n"),
      fast_method<get_string>("get_string", "get_string($self, feature_name, ctx)\n--\n\n"),
      fast_method<get_map>("get_map", "get_map($self, feature_name, ctx)\n--\n\n"),
      fast_method<get_all_values>("get_all_values", "get_all_values($self, ctx)\n--\n\n"),
      kMethodsEnd,
  };
  return methods;
}

}  // namespace orvane
