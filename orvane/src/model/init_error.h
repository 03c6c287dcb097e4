#pragma once
// Why an engine could not be built. Each alternative has one fixed display text, which
// Python callers see.

#include <string>
#include <variant>
#include <vector>

#include "config/config_reader.h"

namespace orvane {

struct IoError {
  std::string message;  // e.g. "No such file or directory (os error 2)"
};

// The OS description of `code` followed by " (os error N)".
IoError io_error_from_errno(int code);

// A stage list names no stage of the engine.
struct InvalidDecisionMaker {
  std::string name;  // as given, byte for byte

  // "Invalid decisionmaker name: " and the quoted name.
  std::string text() const;
};

// Parent references (holdout or mutex group) that come back to where they started.
struct ParentCycle {
  std::vector<std::string> keys;  // the records of the cycle in order, first repeated last
};

struct OrvaneInitError {
  std::variant<IoError, JsonError, InvalidDecisionMaker, ParentCycle> error;

  // "Std io error: \"<description> (os error N)\"", "Json error: \"<reader message>\"",
  // "Invalid DecisionMaker: \"<text>\"", "Parent cycle: \"a\" -> \"b\" -> \"a\"".
  std::string display() const;
};

}  // namespace orvane
