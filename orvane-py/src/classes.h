#pragma once
// What each Python class of the module holds. Instances are created only by the binding
// (init, make_ctx and the engine's methods) and never change afterwards, except that
// GetExperimentRes and GetMapRes hand out their stored Python object itself.

#include <nanobind/nanobind.h>

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "context/context.h"
#include "engine/decision.h"
#include "engine/orvane.h"
#include "py_error.h"

namespace orvane {

struct PyContext {
  Context context;  // fields whose conversion failed are absent
  OptionalError err;
};

struct PyOrvane {
  std::optional<Orvane> engine;  // absent after a failed init
  OptionalError err;
};

struct PyDecision {
  std::optional<Decision> decision;
  OptionalError err;
};

// An engine error as Python sees it: its display text, as a generic error.
inline OptionalError engine_error(const OrvaneError& error) {
  return PyOrvaneError{GenericError{error.display()}};
}

// An engine answer as a PyDecision: the decision, or the error's display text.
inline PyDecision to_py_decision(DecideResult&& result) {
  if (!result) return PyDecision{std::nullopt, engine_error(result.error())};
  return PyDecision{std::move(result).value(), std::nullopt};
}
inline PyDecision to_py_decision(const DecideResult& result) {
  DecideResult copy = result;
  return to_py_decision(std::move(copy));
}

struct GetAllDecisionsRes {
  // Kept as the engine answered; an entry becomes a PyDecision only when it is read, so a
  // caller that reads a few of a thousand decisions does not pay for the rest.
  std::optional<AllDecisions> decisions;
  OptionalError err;
};

struct GetExperimentRes {
  nanobind::object val;  // the feature dict; null when absent
  OptionalError err;
};

struct GetBoolRes {
  bool val = false;
  OptionalError err;
};

struct GetIntegerRes {
  int64_t val = 0;
  OptionalError err;
};

struct GetFloatRes {
  double val = 0.0;
  OptionalError err;
};

struct GetStringRes {
  std::string val;
  OptionalError err;
};

struct GetMapRes {
  nanobind::object val;  // a dict; null only after the garbage collector cleared it
  OptionalError err;
};

// A new instance of T's Python class holding the payload `make()` returns, built in place.
// The class is looked up once: nanobind's cast would search its type registry on every
// call, and results are made on every request.
template <class T, class Make>
nanobind::object make_instance_with(Make&& make) {
  static const nanobind::handle type = nanobind::type<T>();
  nanobind::object instance = nanobind::inst_alloc(type);
  // Out of memory: the interpreter's error is set and travels up as a Python exception.
  if (!instance.is_valid()) throw nanobind::python_error();
  new (nanobind::inst_ptr<T>(instance)) T(make());
  // Only now does the instance own a payload for its destructor to run on.
  nanobind::inst_mark_ready(instance);
  return instance;
}

// Wraps a payload in a new instance of its Python class.
template <class T>
nanobind::object make_instance(T payload) {
  return make_instance_with<T>([&] { return std::move(payload); });
}

// The payload of `self`, which the method descriptors guarantee to be of class T.
template <class T>
T& payload(PyObject* self) {
  return *nanobind::inst_ptr<T>(nanobind::handle(self));
}

}  // namespace orvane
