#pragma once
// Reads a whole experiment configuration document. The text is held whole in memory (a
// file is read in full first, at most 1 GiB) and parsed in one pass. Every error names
// where it was detected, as "<message> at line L column C"; a failure to read the file has
// no position.

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"
#include "config/experiment.h"

namespace orvane {

// The nesting the reader follows: arrays and objects at most this many levels deep. Deeper
// documents fail at the opening bracket of the first level too many.
inline constexpr size_t kMaxNesting = 128;

// A document nested deeper than kMaxNesting.
struct NestingTooDeep {};

struct JsonError {
  // The reader's message text (e.g. "missing field `name`"), or a failure of its own kind.
  std::variant<std::string, NestingTooDeep> reason;
  // 1-based position where the reader detected the error; line 0 for a read failure of
  // the stream, which has no position.
  size_t line = 0;
  size_t column = 0;

  // The text of `reason`: itself, or "recursion limit exceeded".
  std::string message() const;
  // "<message> at line L column C", or the bare message when line is 0.
  std::string display() const;
};

// Reads from an open file descriptor until end of file. A read failure (for example a
// directory) is a JsonError carrying the OS message "<description> (os error N)".
Result<ExperimentConfig, JsonError> read_experiment_config_fd(int fd);

// Reads from a text already in memory. Same rules, limit and messages as a regular file
// holding these bytes.
Result<ExperimentConfig, JsonError> read_experiment_config(std::string_view text);

}  // namespace orvane
