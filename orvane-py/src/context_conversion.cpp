#include "context_conversion.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/json.h"
#include "context/fixed_fields.h"

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

// The keys make_ctx reads, in the order their messages appear: the fixed fields in their
// read order, then other_fields. A key is its position in that order.
using Key = size_t;
constexpr Key kOtherFields = kFixedFieldCount;
constexpr size_t kKeyCount = kFixedFieldCount + 1;

constexpr std::array<std::string_view, kKeyCount> kKeyNames = [] {
  std::array<std::string_view, kKeyCount> names{};
  for (Key key = 0; key < kFixedFieldCount; ++key) {
    names[key] = fixed_field_info(kReadOrder[key]).name;
  }
  names[kOtherFields] = kOtherFieldsName;
  return names;
}();

constexpr bool is_integer(FixedField field) {
  const FieldValue value = fixed_field_info(field).value;
  return value == FieldValue::Int32 || value == FieldValue::Int64;
}

// The keys of the integer fields, whose values are read through the index protocol.
constexpr auto kIntegerKeys = [] {
  constexpr size_t kCount = [] {
    size_t count = 0;
    for (FixedField field : kReadOrder) count += is_integer(field) ? 1 : 0;
    return count;
  }();
  std::array<Key, kCount> keys{};
  size_t size = 0;
  for (Key key = 0; key < kFixedFieldCount; ++key) {
    if (is_integer(kReadOrder[key])) keys[size++] = key;
  }
  return keys;
}();

// Each key as a Python str, made and interned once: a lookup by C string would build and
// hash a new str for each of the fourteen keys on every make_ctx, and keys written as
// literals in Python code are these very objects, which lets a walk over the dict match
// them by address. Called with the interpreter lock held. The table is never destroyed:
// torn down at exit, it would drop the only pointers to the strings, which the interpreter
// does not free either, and leak checkers report them lost.
const std::array<PyObject*, kKeyCount>& interned_keys() {
  static std::array<PyObject*, kKeyCount>* keys = nullptr;
  if (keys == nullptr) {
    std::array<PyObject*, kKeyCount> made{};
    for (size_t i = 0; i < kKeyCount; ++i) {
      made[i] = PyUnicode_InternFromString(std::string(kKeyNames[i]).c_str());
      if (made[i] == nullptr) {
        for (size_t j = 0; j < i; ++j) Py_DECREF(made[j]);
        throw nb::python_error();
      }
    }
    keys = new std::array<PyObject*, kKeyCount>(made);  // kept for the process's lifetime
  }
  return *keys;
}

// The known key an exact str equals, or kKeyCount for none. Only called on exact str keys,
// whose equality is their text's and runs no Python code.
enum class Match { kKey, kNone, kUndecided };

Match match_key(PyObject* key, const std::array<PyObject*, kKeyCount>& interned, size_t& index) {
  for (size_t i = 0; i < kKeyCount; ++i) {
    if (key == interned[i]) {
      index = i;
      return Match::kKey;
    }
  }
  // A str the interpreter has not laid out compactly (made through an old C API) is rare
  // enough to leave to the probing lookup.
  if (!PyUnicode_IS_COMPACT(key)) return Match::kUndecided;
  // Every known key is ASCII, so a str with any other character equals none of them.
  if (!PyUnicode_IS_ASCII(key)) return Match::kNone;
  std::string_view text(static_cast<const char*>(PyUnicode_DATA(key)),
                        static_cast<size_t>(PyUnicode_GET_LENGTH(key)));
  for (size_t i = 0; i < kKeyCount; ++i) {
    if (text == kKeyNames[i]) {
      index = i;
      return Match::kKey;
    }
  }
  return Match::kNone;
}

// Whether reading `value` as an integer may run Python code (an __index__ method), which
// could change the dict before the keys after it are read.
bool index_may_run_code(PyObject* value) {
  if (PyLong_Check(value)) return false;
  PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
  return number != nullptr && number->nb_index != nullptr;
}

// Most request dicts hold a handful of keys, and probing the fourteen known keys one by one
// costs more than walking those entries once. The walk must find exactly what the probes
// would, in a dict the conversion cannot change meanwhile, so it gives up (false) on a dict
// with more entries than kWalkLimit, a key that is not an exact str (a str subclass or any
// other type may hash and compare by its own code, and may equal a known key), or an
// integer field whose value may run code while it is read; the probing lookup then reads
// the dict as always. Fills `found` with borrowed values, null for a key not present.
constexpr Py_ssize_t kWalkLimit = 16;

bool walk_small_dict(PyObject* dict, std::array<PyObject*, kKeyCount>& found) {
  if (PyDict_GET_SIZE(dict) > kWalkLimit) return false;
  const std::array<PyObject*, kKeyCount>& interned = interned_keys();
  found.fill(nullptr);
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (!PyUnicode_CheckExact(key)) return false;
    size_t index = kKeyCount;
    switch (match_key(key, interned, index)) {
      case Match::kKey:
        found[index] = value;
        break;
      case Match::kNone:
        break;
      case Match::kUndecided:
        return false;
    }
  }
  for (Key integer : kIntegerKeys) {
    if (found[integer] != nullptr && index_may_run_code(found[integer])) return false;
  }
  return true;
}

class ContextReader {
 public:
  // Converts into `out`, which the caller returns, so the record is built where it stays.
  ContextReader(PyObject* dict, PyContext& out) : dict_(dict), context_(out.context), out_(out) {
    walked_ = walk_small_dict(dict, found_);
  }

  template <class T, class Read>
  void field(Key key, std::optional<T> Context::*member, const char* type_word, Read read) {
    nb::object value = lookup(key);
    if (!value.is_valid()) return;
    std::optional<T> converted = read(value.ptr());
    if (converted) {
      context_.*member = std::move(converted);
    } else {
      mismatch(key, type_word);
    }
  }

  // Strings are copied once, from the str's UTF-8 straight into the field.
  void string(Key key, std::optional<std::string> Context::*member) {
    nb::object value = lookup(key);
    if (!value.is_valid()) return;
    if (!PyUnicode_Check(value.ptr())) return mismatch(key, "string");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (data == nullptr) {  // a lone surrogate has no UTF-8 form
      rejected<std::string>();
      return mismatch(key, "string");
    }
    (context_.*member).emplace(data, static_cast<size_t>(size));
  }
  void boolean(Key key, std::optional<bool> Context::*member) {
    field(key, member, "bool", read_bool);
  }
  template <class Int>
  void integer(Key key, std::optional<Int> Context::*member) {
    field(key, member, "integer", read_integer<Int>);
  }
  // The fixed field read at position `At` of make_ctx's keys.
  template <Key At>
  void fixed() {
    constexpr const FixedFieldInfo& info = fixed_field_info(kReadOrder[At]);
    if constexpr (info.value == FieldValue::String) {
      string(At, info.text);
    } else if constexpr (info.value == FieldValue::Bool) {
      boolean(At, info.flag);
    } else if constexpr (info.value == FieldValue::Int32) {
      integer<int32_t>(At, info.int32);
    } else {
      integer<int64_t>(At, info.int64);
    }
  }
  template <Key... At>
  void fixed_fields(std::index_sequence<At...>) {
    (fixed<At>(), ...);
  }
  void other_fields() {
    field(kOtherFields, &Context::other_fields, "hashmap", read_other_fields);
  }

  void mismatch(Key key, const char* type_word) {
    std::string message = "\"";
    message += kKeyNames[key];
    message += "\" type mismatch (";
    message += type_word;
    message += ").";
    messages_.push_back(std::move(message));
  }

  void finish() {
    if (messages_.empty()) return;
    std::string joined;
    for (size_t i = 0; i < messages_.size(); ++i) {
      if (i > 0) joined += '\n';
      joined += messages_[i];
    }
    out_.err = PyOrvaneError{GenericError{std::move(joined)}};
  }

 private:
  // A plain lookup by the key string: a dict subclass's own __getitem__ or __missing__ is
  // not consulted. A missing key and None both mean absent. An error raised by the lookup
  // itself (a key whose __eq__ raises) propagates, as it would from d[key]. The value is
  // held because converting it may run Python code that changes the dict.
  nb::object lookup(Key key) {
    PyObject* value = nullptr;
    if (walked_) {
      value = found_[key];
    } else {
      value = PyDict_GetItemWithError(dict_, interned_keys()[key]);
      if (value == nullptr && PyErr_Occurred()) throw nb::python_error();
    }
    if (value == nullptr || value == Py_None) return nb::object();
    return nb::borrow(value);
  }

  PyObject* dict_;
  bool walked_ = false;
  std::array<PyObject*, kKeyCount> found_;
  Context& context_;
  PyContext& out_;
  std::vector<std::string> messages_;
};

}  // namespace

PyContext convert_context(PyObject* dict) {
  PyContext result;
  ContextReader reader(dict, result);
  reader.fixed_fields(std::make_index_sequence<kFixedFieldCount>());
  reader.other_fields();
  reader.finish();
  return result;
}

}  // namespace orvane
