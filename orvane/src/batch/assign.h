#pragma once
// Decides whole tables: every row of the row sources through the same chain choose runs,
// with the rows split over threads. No exposure event is made or serialised (a batch is
// analysis, not exposure), yet every answer is choose's: the same variant, value and
// error text, row by row.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "batch/arrow_export.h"
#include "batch/rows.h"
#include "context/context_field.h"
#include "engine/orvane.h"

namespace orvane {

struct BatchOptions {
  std::optional<ContextField> identifier_type;
  int threads = 1;
  // Rows per output batch; the unit of work a thread takes.
  int64_t rows_per_batch = 64 * 1024;
};

// The answer table in batches, in row order. One feature: variant, value (JSON text),
// decided_by (the deciding stage's name), bucket (the feature's own bucketing stage's),
// error. All features (long format): row and feature first, then the same columns.
struct Answers {
  BuiltBatch shape;  // the columns, empty
  std::vector<BuiltBatch> batches;
};

// `feature_name` for every row. A missing feature or a mismatched identifier type is every
// row's error, as choose would give it.
Answers assign(const Orvane& engine, std::string_view feature_name,
               const std::vector<const RowSource*>& sources, const BatchOptions& options);

// Every feature choose_all decides, for every row: one output row per input row and
// feature, features in the order of their first appearance in the engine.
Answers assign_all(const Orvane& engine, const std::vector<const RowSource*>& sources,
                   const BatchOptions& options);

// Every row answered by `error` alone (an engine that failed to load). In long format each
// input row gives one output row without a feature.
Answers every_row_failing(const std::vector<const RowSource*>& sources, std::string_view error,
                          bool long_format, const BatchOptions& options);

// The names of other_fields entries any decision of `engine` can read: fields of
// targeting and override trees and bucketing fields, through holdout and mutex groups.
std::unordered_set<std::string> other_fields_read(const Orvane& engine);

}  // namespace orvane
