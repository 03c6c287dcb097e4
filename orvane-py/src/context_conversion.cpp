#include "context_conversion.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/json.h"

namespace nb = nanobind;

namespace orvane {
namespace {

// A TypeError, ValueError or OverflowError met while reading a value means "this value does
// not convert": it is cleared and the field gets its message. Anything else (an interrupt,
// SystemExit, MemoryError) is not about the value and propagates out of make_ctx.
template <class T>
std::optional<T> rejected() {
  if (!PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_ValueError) &&
      !PyErr_ExceptionMatches(PyExc_OverflowError)) {
    throw nb::python_error();
  }
  PyErr_Clear();
  return std::nullopt;
}

std::optional<std::string> read_string(PyObject* value) {
  if (!PyUnicode_Check(value)) return std::nullopt;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) return rejected<std::string>();  // a lone surrogate has no UTF-8 form
  return std::string(data, static_cast<size_t>(size));
}

std::optional<bool> read_bool(PyObject* value) {
  if (!PyBool_Check(value)) return std::nullopt;
  return value == Py_True;
}

// Whatever the index protocol accepts (int, bool, objects with __index__), within the range.
template <class Int>
std::optional<Int> read_integer(PyObject* value) {
  nb::object index = nb::steal(PyNumber_Index(value));
  if (!index.is_valid()) return rejected<Int>();
  int overflow = 0;
  long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (number == -1 && PyErr_Occurred()) return rejected<Int>();
  if (overflow != 0 || number < std::numeric_limits<Int>::min() ||
      number > std::numeric_limits<Int>::max()) {
    return std::nullopt;
  }
  return static_cast<Int>(number);
}

std::optional<double> read_float(PyObject* value) {
  double number = PyFloat_AsDouble(value);
  if (number == -1.0 && PyErr_Occurred()) return rejected<double>();
  return number;
}

// One value of other_fields, by the first kind that accepts it: boolean, string, integer,
// float. So True stays a boolean, 7 an integer and 7.0 or 2**70 a float.
using OtherVal = std::variant<bool, std::string, int64_t, double>;

std::optional<OtherVal> read_other_value(PyObject* value) {
  if (auto b = read_bool(value)) return OtherVal(*b);
  if (auto s = read_string(value)) return OtherVal(std::move(*s));
  if (auto i = read_integer<int64_t>(value)) return OtherVal(*i);
  if (auto f = read_float(value)) return OtherVal(*f);
  return std::nullopt;
}

// The JSON form of an accepted value; none for floats that JSON cannot hold.
std::optional<Json> other_value_json(OtherVal value) {
  if (auto* b = std::get_if<bool>(&value)) return Json(*b);
  if (auto* s = std::get_if<std::string>(&value)) return Json(std::move(*s));
  if (auto* i = std::get_if<int64_t>(&value)) {
    // The JSON value keeps non-negative integers unsigned, as the configuration reader does.
    if (*i >= 0) return Json(static_cast<uint64_t>(*i));
    return Json(*i);
  }
  double f = std::get<double>(value);
  if (!std::isfinite(f)) return std::nullopt;
  return Json(f);
}

// The map as a whole, or nothing at all when any key or value does not convert.
std::optional<JsonObject> read_other_fields(PyObject* value) {
  if (!PyDict_Check(value)) return std::nullopt;
  JsonObject fields;
  Py_ssize_t pos = 0;
  PyObject* key_ptr = nullptr;
  PyObject* value_ptr = nullptr;
  while (PyDict_Next(value, &pos, &key_ptr, &value_ptr)) {
    // Reading a value may run Python code (__index__, __float__); hold both objects so
    // that code cannot free them under us.
    nb::object key = nb::borrow(key_ptr);
    nb::object item = nb::borrow(value_ptr);
    std::optional<std::string> name = read_string(key.ptr());
    if (!name) return std::nullopt;
    if (item.is_none()) continue;
    std::optional<OtherVal> converted = read_other_value(item.ptr());
    if (!converted) return std::nullopt;
    if (std::optional<Json> json = other_value_json(std::move(*converted))) {
      fields.insert_or_assign(std::move(*name), std::move(*json));
    }
  }
  return fields;
}

// The key as a Python str, made and interned once per key: a lookup by C string would
// build and hash a new str for each of the fourteen keys on every make_ctx. Keys are
// string literals, so their addresses identify them. Called with the interpreter lock held.
// The table is never destroyed: torn down at exit, it would drop the only pointers to the
// strings, which the interpreter does not free either, and leak checkers report them lost.
PyObject* interned_key(const char* key) {
  static auto& keys = *new std::vector<std::pair<const char*, PyObject*>>();
  for (const auto& [text, object] : keys) {
    if (text == key) return object;
  }
  PyObject* object = PyUnicode_InternFromString(key);  // kept for the process's lifetime
  if (object == nullptr) return nullptr;
  keys.emplace_back(key, object);
  return object;
}

class ContextReader {
 public:
  explicit ContextReader(PyObject* dict) : dict_(dict) {}

  template <class T, class Read>
  void field(const char* key, std::optional<T> Context::*member, const char* type_word,
             Read read) {
    nb::object value = lookup(key);
    if (!value.is_valid()) return;
    std::optional<T> converted = read(value.ptr());
    if (converted) {
      context_.*member = std::move(converted);
    } else {
      messages_.push_back(std::string("\"") + key + "\" type mismatch (" + type_word + ").");
    }
  }

  void string(const char* key, std::optional<std::string> Context::*member) {
    field(key, member, "string", read_string);
  }
  void boolean(const char* key, std::optional<bool> Context::*member) {
    field(key, member, "bool", read_bool);
  }
  template <class Int>
  void integer(const char* key, std::optional<Int> Context::*member) {
    field(key, member, "integer", read_integer<Int>);
  }
  void other_fields() {
    field("other_fields", &Context::other_fields, "hashmap", read_other_fields);
  }

  PyContext finish() && {
    PyContext result{std::move(context_), std::nullopt};
    if (!messages_.empty()) {
      std::string joined;
      for (size_t i = 0; i < messages_.size(); ++i) {
        if (i > 0) joined += '\n';
        joined += messages_[i];
      }
      result.err = PyOrvaneError{GenericError{std::move(joined)}};
    }
    return result;
  }

 private:
  // A plain lookup by the key string: a dict subclass's own __getitem__ or __missing__ is
  // not consulted. A missing key and None both mean absent. An error raised by the lookup
  // itself (a key whose __eq__ raises) propagates, as it would from d[key]. The value is
  // held because converting it may run Python code that changes the dict.
  nb::object lookup(const char* key) {
    PyObject* key_object = interned_key(key);
    if (key_object == nullptr) throw nb::python_error();
    PyObject* value = PyDict_GetItemWithError(dict_, key_object);
    if (value == nullptr) {
      if (PyErr_Occurred()) throw nb::python_error();
      return nb::object();
    }
    if (value == Py_None) return nb::object();
    return nb::borrow(value);
  }

  PyObject* dict_;
  Context context_;
  std::vector<std::string> messages_;
};

}  // namespace

PyContext convert_context(PyObject* dict) {
  ContextReader reader(dict);
  reader.string("user_id", &Context::user_id);
  reader.string("locale", &Context::locale);
  reader.string("device_id", &Context::device_id);
  reader.string("canonical_url", &Context::canonical_url);
  reader.string("country_code", &Context::country_code);
  reader.string("origin_service", &Context::origin_service);
  reader.boolean("user_is_employee", &Context::user_is_employee);
  reader.boolean("logged_in", &Context::logged_in);
  reader.string("app_name", &Context::app_name);
  reader.integer("build_number", &Context::build_number);
  reader.string("oauth_client_id", &Context::oauth_client_id);
  reader.integer("cookie_created_timestamp", &Context::cookie_created_timestamp);
  reader.integer("loid_created_timestamp", &Context::loid_created_timestamp);
  reader.other_fields();
  return std::move(reader).finish();
}

}  // namespace orvane
