#pragma once
// The module's functions and methods are plain CPython callables (PyMethodDef entries)
// rather than nanobind functions: nanobind renders a signature into every __doc__, and the
// module promises empty doc strings. Each C++ body runs under one guard that turns a C++
// exception into the matching Python error, so no exception crosses into the interpreter.

#include <nanobind/nanobind.h>

#include <new>

#include "py_error.h"

namespace orvane {

using FastBody = nanobind::object (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames);
using NoArgsBody = nanobind::object (*)(PyObject* self);

// Raises the module's internal error, which derives from BaseException so that ordinary
// `except Exception` handlers do not swallow a broken invariant.
void raise_internal_error(const char* what) noexcept;
// Creates the internal error's class; called once when the module is initialised.
void create_internal_error_class();

// err() of every class: the display text, or None.
nanobind::object err_to_python(const OptionalError& err);

// Runs `body` and hands its result to the interpreter; a C++ exception becomes the
// matching Python error, since nothing may unwind into the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body().release().ptr();
  } catch (nanobind::python_error& e) {
    e.restore();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_internal_error(e.what());
  } catch (...) {
    raise_internal_error("unknown C++ exception");
  }
  return nullptr;
}

template <FastBody Body>
PyObject* guarded_fast(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
  return guarded([&] { return Body(self, args, nargs, kwnames); });
}

template <NoArgsBody Body>
PyObject* guarded_no_args(PyObject* self, PyObject* /*unused*/) noexcept {
  return guarded([&] { return Body(self); });
}

// `text_signature` is "name($self, a, b=None)\n--\n\n": the interpreter shows it as
// __text_signature__ and leaves __doc__ empty.
template <FastBody Body>
PyMethodDef fast_method(const char* name, const char* text_signature) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&guarded_fast<Body>)),
          METH_FASTCALL | METH_KEYWORDS, text_signature};
}

template <NoArgsBody Body>
PyMethodDef no_args_method(const char* name) {
  return {name, &guarded_no_args<Body>, METH_NOARGS, nullptr};
}

inline constexpr PyMethodDef kMethodsEnd = {nullptr, nullptr, 0, nullptr};

// The method tables of the module's classes (engine_methods.cpp, result_methods.cpp).
PyMethodDef* pyorvane_methods();
PyMethodDef* pycontext_methods();
PyMethodDef* pydecision_methods();
PyMethodDef* get_all_decisions_res_methods();
PyMethodDef* get_experiment_res_methods();
PyMethodDef* get_bool_res_methods();
PyMethodDef* get_integer_res_methods();
PyMethodDef* get_float_res_methods();
PyMethodDef* get_string_res_methods();
PyMethodDef* get_map_res_methods();

}  // namespace orvane
