#pragma once
// make_ctx's conversion of a Python dict into a request Context. Never raises for the
// dict's content: a value of the wrong Python type leaves its field absent and adds one
// message "\"key\" type mismatch (word)."; the messages, in key order and joined by line
// feeds, become the context's GenericError.

#include <nanobind/nanobind.h>

#include "classes.h"

namespace orvane {

// `dict` must be a dict (or a subclass; its entries are read as a plain dict's).
PyContext convert_context(PyObject* dict);

}  // namespace orvane
