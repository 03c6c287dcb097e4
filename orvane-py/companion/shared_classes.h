#pragma once
// The companion module's access to the classes pyorvane creates. nanobind keeps one type
// registry per interpreter, shared by every module built with the same nanobind ABI, so
// the PyOrvane and PyContext instances pyorvane hands out are found here by their C++
// type. The classes are looked up on every call rather than cached, so that nothing here
// outlives them.

#include <nanobind/nanobind.h>

#include "classes.h"
#include "context/context.h"
#include "engine/orvane.h"

namespace orvane {

// Imports pyorvane and checks that it was built with this module's payload layout.
// Throws nanobind::import_error saying what differs and what to do otherwise.
void require_compatible_pyorvane();

// `value` as a PyOrvane; TypeError naming `name` for any other type.
const PyOrvane& pyorvane_argument(nanobind::handle value, const char* name);

// The engine of a PyOrvane argument; TypeError naming `name` for any other type, and
// ValueError with the engine's err() text when its init failed.
const Orvane& engine_argument(nanobind::handle value, const char* name);

// The context of a PyContext argument; TypeError naming `name` for any other type.
const Context& context_argument(nanobind::handle value, const char* name);

// `value` as a PyDecision; TypeError naming `name` for any other type.
const PyDecision& decision_argument(nanobind::handle value, const char* name);

// Whether `value` is an instance of pyorvane's PyContext.
bool is_context(nanobind::handle value);

}  // namespace orvane
