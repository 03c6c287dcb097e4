#pragma once
// The checks behind check_config, one file each, over the records as read. Shared with
// the lint tests; nothing outside the lint layer includes this.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "config/experiment.h"
#include "lint/check.h"
#include "lint/finding.h"

namespace orvane::lint {

// The records of a document with the lookups the checks make often.
class Records {
 public:
  explicit Records(const ExperimentConfig& config);

  const ExperimentConfig& config() const { return config_; }
  // The record under `key`, or null.
  const Experiment* by_key(std::string_view key) const;
  // The key of the first record named `name`, or null.
  const std::string* key_of_name(std::string_view name) const;
  // Every key, in document order, for guessing what a dangling name meant.
  const std::vector<std::string_view>& keys() const { return keys_; }
  // Whether some record names `key` as its holdout group (and so may leave buckets
  // uncovered: those users are simply not held out).
  bool is_holdout_group(std::string_view key) const { return holdout_groups_.count(key) != 0; }

 private:
  const ExperimentConfig& config_;
  std::vector<std::string_view> keys_;
  std::unordered_map<std::string_view, size_t> by_key_;
  std::unordered_map<std::string_view, size_t> first_by_name_;
  std::unordered_set<std::string_view> holdout_groups_;
};

// A finding about one record; `path` starts below the record's key.
Finding record_finding(Code code, Severity severity, const std::string& key,
                       const Experiment& record, MemberPath path, std::string message,
                       std::string hint = {});

// Bucket ranges of one record: out of bounds, empty, overlapping, leaving a gap.
void check_ranges(const std::string& key, const Experiment& record, bool holdout_group,
                  std::vector<Finding>& out);
// Members whose meaning depends on one record only: bucket_val, the value of a dynamic
// configuration, override names, the schedule.
void check_record(const std::string& key, const Experiment& record, int64_t now_ms,
                  std::vector<Finding>& out);
// Relations between records: parents, holdout and mutex groups, names and ids given twice.
void check_relations(const Records& records, std::vector<Finding>& out);
// Conditions of the targeting and override trees that can never hold, or can never be
// decided, for the type of the field they read.
void check_trees(const std::string& key, const Experiment& record, std::vector<Finding>& out);
// The stage names: unknown ones, and orders that change meaning in ways rarely wanted.
void check_stages(std::string_view stages, std::vector<Finding>& out);

}  // namespace orvane::lint
