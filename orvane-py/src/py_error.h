#pragma once
// The binding's error record. Every Python-visible object owns an optional one: err()
// returns its display text, inspect() shows its debug text. Holds no Python objects.

#include <optional>
#include <string>
#include <variant>

#include "base/debug_text.h"

namespace orvane {

struct OrvaneNotFound {};
struct GenericError {
  std::string message;
};
struct OrvaneInitFailed {
  std::string message;  // the loader's display text
};

struct PyOrvaneError {
  std::variant<OrvaneNotFound, GenericError, OrvaneInitFailed> error;

  // "Orvane not found.", the message itself, or "Orvane initialization failed: <message>.".
  std::string display() const;
  // OrvaneNotFound, GenericError("..."), OrvaneInitFailed("...").
  DebugNode debug_node() const;
};

using OptionalError = std::optional<PyOrvaneError>;

// None, or Some(<the alternative's debug text>).
DebugNode error_debug_node(const OptionalError& err);

}  // namespace orvane
