#pragma once
// Binding of call arguments for the module's callables, which are plain CPython fast-call
// functions (module.cpp says why). Binding follows CPython's rules for a def: TypeError for
// too many positional arguments, a missing required one, or an unexpected or repeated
// keyword. Type checks raise TypeError "argument 'x': 'T' object cannot be converted to 'E'".
// Every function here throws nanobind::python_error with the Python error already set.

#include <nanobind/nanobind.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

struct Parameters {
  const char* function;  // as messages show it: "init", "PyOrvane.choose"
  const char* const* names;
  size_t count;
  size_t required;  // the first `required` names must be given; the rest default to None
};

// Fills out[i] with a borrowed reference to the argument bound to names[i], or null when an
// optional one was not given.
void bind_arguments(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out);

template <size_t N>
struct Signature {
  const char* function;
  std::array<const char*, N> names;
  size_t required;

  std::array<PyObject*, N> bind(PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) const {
    std::array<PyObject*, N> out{};
    // Nearly every call passes its arguments by position, which needs no name matching.
    const auto given = static_cast<size_t>(nargs);
    if (kwnames == nullptr && given >= required && given <= N) {
      for (size_t i = 0; i < given; ++i) out[i] = args[i];
      return out;
    }
    bind_arguments(Parameters{function, names.data(), N, required}, args, nargs, kwnames,
                   out.data());
    return out;
  }
};

// The UTF-8 text of a str argument (str subclasses accepted), valid while `value` lives.
// Any other type: TypeError naming 'PyString'. A str that has no UTF-8 form (a lone
// surrogate) raises the interpreter's UnicodeEncodeError.
std::string_view str_argument(PyObject* value, const char* name);

// As str_argument, with null (not given) and None meaning absent.
std::optional<std::string_view> optional_str_argument(PyObject* value, const char* name);

// A dict argument (dict subclasses accepted); otherwise TypeError naming 'PyDict'.
void require_dict(PyObject* value, const char* name);

// An instance of `type`; otherwise TypeError naming `expected`.
void require_instance(PyObject* value, nanobind::handle type, const char* name,
                      const char* expected);

// The type name that messages show for `value`: "list", "PyContext".
std::string type_name_of(PyObject* value);

}  // namespace orvane
