// The pyorvane module: its two functions, init and make_ctx, and the classes they and the
// engine's methods hand out. The classes are not placed in the module's namespace.

#include <nanobind/nanobind.h>

#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "arguments.h"
#include "callables.h"
#include "classes.h"
#include "context_conversion.h"
#include "engine/loader.h"
#include "interpreter.h"

namespace nb = nanobind;

namespace orvane {
namespace {

PyObject* internal_error_class = nullptr;

const Signature<2> kInit{"init", {"decisionmakers", "filename"}, 2};
const Signature<1> kMakeCtx{"make_ctx", {"ctx_dict"}, 1};

nb::object init_function(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  auto [decisionmakers_arg, filename_arg] = kInit.bind(args, nargs, kwnames);
  std::string_view decisionmakers = str_argument(decisionmakers_arg, "decisionmakers");
  std::string_view filename = str_argument(filename_arg, "filename");
  // The load runs with the interpreter lock held, like every call of the module.
  Result<Orvane, OrvaneInitError> engine = init_orvane(decisionmakers, filename);
  if (!engine) {
    return make_instance(
        PyOrvane{std::nullopt, PyOrvaneError{OrvaneInitFailed{engine.error().display()}}});
  }
  return make_instance(PyOrvane{std::move(engine).value(), std::nullopt});
}

nb::object make_ctx_function(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
  auto [dict_arg] = kMakeCtx.bind(args, nargs, kwnames);
  require_dict(dict_arg, "ctx_dict");
  // Converted straight into the new instance, so the context record is not moved again.
  return make_instance_with<orvane::PyContext>([&] { return convert_context(dict_arg); });
}

PyObject* no_constructor(PyTypeObject* /*type*/, PyObject* /*args*/, PyObject* /*kwargs*/) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return nullptr;
}

// GetExperimentRes and GetMapRes hold a Python object that a caller may change to refer
// back to the result, so the cycle collector must see it.
template <class T>
int traverse_val(PyObject* self, visitproc visit, void* arg) {
  if (nb::inst_ready(self)) {
    PyObject* val = payload<T>(self).val.ptr();
    Py_VISIT(val);
  }
  Py_VISIT(Py_TYPE(self));
  return 0;
}

template <class T>
int clear_val(PyObject* self) {
  if (nb::inst_ready(self)) {
    // Detach before the reference goes, as Py_CLEAR does.
    nb::object released = std::move(payload<T>(self).val);
  }
  return 0;
}

// Creates the class of T inside `scope`, or finds it when an earlier import of the module
// created it and it is still alive. Calling the class raises "No constructor defined"; the
// doc string is empty.
// The classes are final and immutable, like built-in types: one assignment to a class
// attribute would otherwise change every engine or result in the process.
template <class T>
nb::object class_with_slots(nb::handle scope, const char* name, PyType_Slot* slots) {
  if (nb::handle existing = nb::type<T>(); existing.is_valid()) return nb::borrow(existing);
  // Pooled: a request makes a context and a result and drops both, so nanobind keeps up
  // to 128 freed instances of each class for reuse instead of freeing and allocating one
  // and unregistering and registering it each time.
  nb::object type =
      nb::class_<T>(scope, name, "", nb::type_slots(slots), nb::is_final(), nb::pooled());
  auto* type_object = reinterpret_cast<PyTypeObject*>(type.ptr());
  type_object->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
  // nanobind names the type "builtins.Name". Python 3.12 and later show tp_name itself in
  // the default repr of a builtins type ("<builtins.Name object at ...>"); every version
  // shows "<Name object at ...>" when tp_name is the bare name, and __module__ stays
  // "builtins" (kept in the type's dict).
  if (const char* dot = std::strrchr(type_object->tp_name, '.')) type_object->tp_name = dot + 1;
  PyType_Modified(type_object);
  return type;
}

template <class T, PyMethodDef* (*Methods)()>
nb::object class_of(nb::handle scope, const char* name) {
  static PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&no_constructor)},
      {Py_tp_methods, Methods()},
      {0, nullptr},
  };
  return class_with_slots<T>(scope, name, slots);
}

template <class T, PyMethodDef* (*Methods)()>
nb::object class_holding_object(nb::handle scope, const char* name) {
  static PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&no_constructor)},
      {Py_tp_methods, Methods()},
      {Py_tp_traverse, reinterpret_cast<void*>(&traverse_val<T>)},
      {Py_tp_clear, reinterpret_cast<void*>(&clear_val<T>)},
      {0, nullptr},
  };
  return class_with_slots<T>(scope, name, slots);
}

}  // namespace

void create_internal_error_class() {
  if (internal_error_class != nullptr) return;
  internal_error_class =
      PyErr_NewExceptionWithDoc("pyorvane.InternalError", nullptr, PyExc_BaseException, nullptr);
  if (internal_error_class == nullptr) throw nb::python_error();
}

void raise_internal_error(const char* what) noexcept {
  PyErr_SetString(internal_error_class ? internal_error_class : PyExc_SystemError, what);
}

nb::object err_to_python(const OptionalError& err) {
  if (!err) return nb::none();
  std::string message = err->display();
  return nb::str(message.data(), message.size());
}

}  // namespace orvane

NB_MODULE(pyorvane, m) {
  using namespace orvane;
  // The classes and the handles cached to them are shared by the whole process; a
  // sub-interpreter would need classes of its own that die with it.
  refuse_sub_interpreter("pyorvane");
  m.attr("__doc__") = "";
  create_internal_error_class();

  // The classes report "builtins" as their module, so they are created inside a scratch
  // module of that name that is dropped afterwards. The functions keep the classes alive
  // through their `self`, a tuple of the class objects.
  nb::object scope = nb::steal(PyModule_New("builtins"));
  if (!scope.is_valid()) throw nb::python_error();
  nb::object classes = nb::make_tuple(
      class_of<PyOrvane, pyorvane_methods>(scope, "PyOrvane"),
      class_of<orvane::PyContext, pycontext_methods>(scope, "PyContext"),
      class_of<PyDecision, pydecision_methods>(scope, "PyDecision"),
      class_of<GetAllDecisionsRes, get_all_decisions_res_methods>(scope, "GetAllDecisionsRes"),
      class_holding_object<GetExperimentRes, get_experiment_res_methods>(scope, "GetExperimentRes"),
      class_of<GetBoolRes, get_bool_res_methods>(scope, "GetBoolRes"),
      class_of<GetIntegerRes, get_integer_res_methods>(scope, "GetIntegerRes"),
      class_of<GetFloatRes, get_float_res_methods>(scope, "GetFloatRes"),
      class_of<GetStringRes, get_string_res_methods>(scope, "GetStringRes"),
      class_holding_object<GetMapRes, get_map_res_methods>(scope, "GetMapRes"));

  // Kept for the life of the process: results cache their class handles, and an engine or
  // context made before the module is imported again must stay usable with the new one.
  // A second import finds the classes alive and reuses them.
  static PyObject* const kept_classes = classes.inc_ref().ptr();
  (void)kept_classes;
  // At exit nanobind counts the instances still alive and calls them leaks. With a daemon
  // thread still running, the interpreter never frees module globals, so an engine held in
  // one is counted: users take that for a reference-counting fault. Instances are owned by
  // Python objects alone (the repeated-init and call soak runs show flat memory), so the
  // count tells nothing here.
  nb::set_leak_warnings(false);

  static PyMethodDef functions[] = {
      fast_method<init_function>("init", "init($module, decisionmakers, filename)\n--\n\n"),
      fast_method<make_ctx_function>("make_ctx", "make_ctx($module, ctx_dict)\n--\n\n"),
      kMethodsEnd,
  };
  nb::object module_name = m.attr("__name__");
  for (PyMethodDef* def = functions; def->ml_name != nullptr; ++def) {
    nb::object function = nb::steal(PyCFunction_NewEx(def, classes.ptr(), module_name.ptr()));
    if (!function.is_valid()) throw nb::python_error();
    m.attr(def->ml_name) = function;
  }
}
