#pragma once
// Checking a configuration before it ships: the meaning-level problems a document that
// loads can still have (misspelt members, ranges that skew a split, groups that hold
// nobody, overrides that hand out variants that do not exist, ...), each as a Finding
// with its place in the document.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/config_reader.h"
#include "lint/finding.h"

namespace orvane::lint {

struct CheckOptions {
  // The stage names as given to init; absent when the caller has no chain to check.
  std::optional<std::string> stages;
  // The moment schedules are judged against, in milliseconds since the Unix epoch.
  int64_t now_ms = 0;
};

struct CheckReport {
  size_t records = 0;
  // Stage findings first, then by record in document order, each record's by position.
  std::vector<Finding> findings;
};

// The findings over a configuration text, or the reader's error when the text does not
// read (the load error, which callers report as the loader words it). Keeps no pointer
// into `text`.
Result<CheckReport, JsonError> check_config(std::string_view text, const CheckOptions& options);

}  // namespace orvane::lint
