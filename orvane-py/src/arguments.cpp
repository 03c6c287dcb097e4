#include "arguments.h"

#include <string>
#include <vector>

namespace nb = nanobind;

namespace orvane {
namespace {

[[noreturn]] void raise_type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  throw nb::python_error();
}

[[noreturn]] void raise_conversion_error(PyObject* value, const char* name, const char* expected) {
  raise_type_error(std::string("argument '") + name + "': '" + type_name_of(value) +
                   "' object cannot be converted to '" + expected + "'");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c' — the way CPython lists missing arguments.
std::string join_names(const std::vector<const char*>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

std::string plural(size_t count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

void bind_arguments(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out) {
  // The name as messages show it; only built once a message is due, since binding runs on
  // every call.
  auto function = [&] { return std::string(params.function) + "()"; };
  const size_t given = static_cast<size_t>(nargs);
  if (given > params.count) {
    std::string accepted = params.required == params.count
                               ? plural(params.count, "positional argument")
                               : "from " + std::to_string(params.required) + " to " +
                                     std::to_string(params.count) + " positional arguments";
    raise_type_error(function() + " takes " + accepted + " but " + std::to_string(given) +
                     (given == 1 ? " was" : " were") + " given");
  }
  for (size_t i = 0; i < params.count; ++i) out[i] = i < given ? args[i] : nullptr;

  const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    size_t index = params.count;
    for (size_t i = 0; i < params.count; ++i) {
      if (PyUnicode_CompareWithASCIIString(keyword, params.names[i]) == 0) {
        index = i;
        break;
      }
    }
    if (index == params.count) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                   function().c_str(), keyword);
      throw nb::python_error();
    }
    if (out[index] != nullptr) {
      raise_type_error(function() + " got multiple values for argument '" + params.names[index] +
                       "'");
    }
    out[index] = args[nargs + k];
  }

  std::vector<const char*> missing;
  for (size_t i = 0; i < params.required; ++i) {
    if (out[i] == nullptr) missing.push_back(params.names[i]);
  }
  if (!missing.empty()) {
    raise_type_error(function() + " missing " +
                     plural(missing.size(), "required positional argument") + ": " +
                     join_names(missing));
  }
}

std::string_view str_argument(PyObject* value, const char* name) {
  if (!PyUnicode_Check(value)) raise_conversion_error(value, name, "PyString");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) throw nb::python_error();
  return std::string_view(data, static_cast<size_t>(size));
}

std::optional<std::string_view> optional_str_argument(PyObject* value, const char* name) {
  if (value == nullptr || value == Py_None) return std::nullopt;
  return str_argument(value, name);
}

void require_dict(PyObject* value, const char* name) {
  if (!PyDict_Check(value)) raise_conversion_error(value, name, "PyDict");
}

void require_instance(PyObject* value, nb::handle type, const char* name, const char* expected) {
  if (!PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(type.ptr()))) {
    raise_conversion_error(value, name, expected);
  }
}

std::string type_name_of(PyObject* value) {
  // tp_name holds "module.Name" for types defined in C; messages show the part after the
  // last dot, which is the type's __name__.
  std::string_view full = Py_TYPE(value)->tp_name;
  size_t dot = full.rfind('.');
  return std::string(dot == std::string_view::npos ? full : full.substr(dot + 1));
}

}  // namespace orvane
