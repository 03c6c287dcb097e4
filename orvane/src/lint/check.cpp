#include "lint/check.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "lint/checks.h"
#include "lint/raw_document.h"

namespace orvane::lint {

Records::Records(const ExperimentConfig& config) : config_(config) {
  keys_.reserve(config.size());
  for (size_t i = 0; i < config.size(); ++i) {
    const auto& [key, record] = config[i];
    keys_.push_back(key);
    by_key_.emplace(key, i);
    first_by_name_.emplace(record.name, i);
    if (record.type != ExperimentType::DynamicConfig && record.parent_hg_name) {
      holdout_groups_.insert(*record.parent_hg_name);
    }
  }
}

const Experiment* Records::by_key(std::string_view key) const {
  auto it = by_key_.find(key);
  return it == by_key_.end() ? nullptr : &config_[it->second].second;
}

const std::string* Records::key_of_name(std::string_view name) const {
  auto it = first_by_name_.find(name);
  return it == first_by_name_.end() ? nullptr : &config_[it->second].first;
}

Finding record_finding(Code code, Severity severity, const std::string& key,
                       const Experiment& record, MemberPath path, std::string message,
                       std::string hint) {
  path.insert(path.begin(), key);
  return Finding{code,          severity,          key,
                 record.name,   std::move(path),   std::nullopt,
                 std::nullopt,  std::move(message), std::move(hint)};
}

Result<CheckReport, JsonError> check_config(std::string_view text, const CheckOptions& options) {
  Result<ExperimentConfig, JsonError> read = read_experiment_config(text);
  if (!read) return std::move(read).error();
  const ExperimentConfig& config = *read;

  CheckReport report;
  report.records = config.size();
  if (options.stages) check_stages(*options.stages, report.findings);

  const Records records(config);
  const RawDocument raw(text);
  // Findings of each record are gathered together, so a report reads record by record.
  std::vector<std::vector<Finding>> by_record(config.size());
  std::vector<Finding> relations = raw.shape_findings();
  check_relations(records, relations);
  for (size_t i = 0; i < config.size(); ++i) {
    const auto& [key, record] = config[i];
    std::vector<Finding>& out = by_record[i];
    check_record(key, record, options.now_ms, out);
    if (record.type != ExperimentType::DynamicConfig) {
      check_ranges(key, record, records.is_holdout_group(key), out);
    }
    check_trees(key, record, out);
  }
  std::unordered_map<std::string_view, size_t> index;
  for (size_t i = 0; i < config.size(); ++i) index.emplace(config[i].first, i);
  for (Finding& finding : relations) {
    auto at = index.find(*finding.key);
    if (at != index.end()) by_record[at->second].push_back(std::move(finding));
  }

  for (std::vector<Finding>& findings : by_record) {
    for (Finding& finding : findings) {
      if (!finding.feature && finding.key) {
        if (const Experiment* record = records.by_key(*finding.key)) finding.feature = record->name;
      }
      if (!finding.line) {
        if (std::optional<TextPlace> place = raw.place(finding.path)) {
          finding.line = place->line;
          finding.column = place->column;
        }
      }
    }
    // A record's findings in the order of the file, those without a place last.
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
      const auto where = [](const Finding& f) {
        return std::make_pair(f.line.value_or(SIZE_MAX), f.column.value_or(SIZE_MAX));
      };
      return where(a) < where(b);
    });
    for (Finding& finding : findings) report.findings.push_back(std::move(finding));
  }
  return report;
}

}  // namespace orvane::lint
