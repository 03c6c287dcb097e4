#include "batch/assign.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/json.h"
#include "base/overloaded.h"
#include "engine/stage.h"

namespace orvane {
namespace {

using Type = ColumnBuilder::Type;

BuiltBatch answer_shape(bool long_format) {
  BuiltBatch shape;
  if (long_format) {
    shape.emplace_back("row", Type::Int64);
    shape.emplace_back("feature", Type::Utf8);
  }
  shape.emplace_back("variant", Type::Utf8);
  shape.emplace_back("value", Type::Utf8);
  shape.emplace_back("decided_by", Type::Utf8);
  shape.emplace_back("bucket", Type::Int16);
  shape.emplace_back("error", Type::Utf8);
  return shape;
}

// One output row; views into the decision and the worker's scratch texts.
struct Answer {
  std::optional<std::string_view> variant;
  std::optional<std::string_view> value;
  std::optional<std::string_view> decided_by;
  std::optional<int16_t> bucket;
  std::optional<std::string_view> error;
};

// Builds the output of one chunk of rows, starting a new batch whenever the text of a
// string column would outgrow its 32-bit offsets.
class ChunkWriter {
 public:
  ChunkWriter(bool long_format, int64_t rows) : long_format_(long_format), rows_(rows) {
    start_batch();
  }

  void write(int64_t row, std::optional<std::string_view> feature, const Answer& answer) {
    const size_t bytes = answer.variant.value_or("").size() + answer.value.value_or("").size() +
                         answer.error.value_or("").size() + feature.value_or("").size() + 32;
    // Each string column has 32-bit offsets; the sum over all of them bounds each one.
    if (text_bytes_ + bytes > kTextLimit && current_.front().length() > 0) {
      batches_.push_back(std::move(current_));
      start_batch();
    }
    text_bytes_ += bytes;
    size_t i = 0;
    if (long_format_) {
      current_[i++].append_int(row);
      text(current_[i++], feature);
    }
    text(current_[i++], answer.variant);
    text(current_[i++], answer.value);
    text(current_[i++], answer.decided_by);
    if (answer.bucket) {
      current_[i++].append_int(*answer.bucket);
    } else {
      current_[i++].append_null();
    }
    text(current_[i++], answer.error);
  }

  std::vector<BuiltBatch> finish() && {
    if (current_.front().length() > 0 || batches_.empty()) batches_.push_back(std::move(current_));
    return std::move(batches_);
  }

 private:
  static constexpr size_t kTextLimit = static_cast<size_t>(std::numeric_limits<int32_t>::max());

  void start_batch() {
    current_ = answer_shape(long_format_);
    for (ColumnBuilder& column : current_) column.reserve(rows_);
    text_bytes_ = 0;
  }

  static void text(ColumnBuilder& column, std::optional<std::string_view> value) {
    if (value) {
      column.append_text(*value);
    } else {
      column.append_null();
    }
  }

  bool long_format_;
  int64_t rows_;  // expected in all, for reserving room
  size_t text_bytes_ = 0;
  BuiltBatch current_;
  std::vector<BuiltBatch> batches_;
};

// A worker's reusable state: the row's context and the texts an answer points into.
struct Scratch {
  Context context;
  std::string conversion_error;
  std::string value_text;
  std::string error_text;
};

// Fills `answer`, which comes in empty.
void answer_of(const Orvane& engine, const ObservedRun& run, Scratch& scratch, Answer& answer) {
  if (!run.result) {
    scratch.error_text = run.result.error().display();
    answer.error = scratch.error_text;
    return;
  }
  if (run.bucket) answer.bucket = static_cast<int16_t>(*run.bucket);
  const std::optional<InternalDecision>& decision = *run.result;
  if (!decision) return;
  if (decision->variant_name) answer.variant = *decision->variant_name;
  // A decision without a value (a bucketed variant) holds JSON null: no value to show.
  if (!decision->value.is_null()) {
    scratch.value_text.clear();
    append_json_compact(scratch.value_text, decision->value);
    answer.value = scratch.value_text;
  }
  if (run.decided_at) answer.decided_by = stage_name(engine.chain()[*run.decided_at]);
}

struct Chunk {
  const RowSource* source;
  int64_t begin;
  int64_t end;
  int64_t first_row;  // the table-wide index of `begin`
};

std::vector<Chunk> chunks_of(const std::vector<const RowSource*>& sources, int64_t rows_per_batch) {
  std::vector<Chunk> chunks;
  const int64_t step = std::max<int64_t>(rows_per_batch, 1);
  int64_t first_row = 0;
  for (const RowSource* source : sources) {
    for (int64_t begin = 0; begin < source->rows(); begin += step) {
      const int64_t end = std::min(source->rows(), begin + step);
      chunks.push_back(Chunk{source, begin, end, first_row + begin});
    }
    first_row += source->rows();
  }
  return chunks;
}

// Runs `decide_row(chunk, row, writer, scratch)` for every row, chunks shared out over the
// threads; the answers come back in row order whatever the threads' timing. Each input row
// gives `rows_per_input` output rows.
template <class DecideRow>
Answers run_chunks(const std::vector<const RowSource*>& sources, const BatchOptions& options,
                   bool long_format, int64_t rows_per_input, DecideRow decide_row) {
  const std::vector<Chunk> chunks = chunks_of(sources, options.rows_per_batch);
  std::vector<std::vector<BuiltBatch>> outputs(chunks.size());
  std::atomic<size_t> next{0};
  auto worker = [&] {
    Scratch scratch;
    for (size_t i = next++; i < chunks.size(); i = next++) {
      const Chunk& chunk = chunks[i];
      ChunkWriter writer(long_format, (chunk.end - chunk.begin) * rows_per_input);
      for (int64_t row = chunk.begin; row < chunk.end; ++row) {
        decide_row(chunk, row, writer, scratch);
      }
      outputs[i] = std::move(writer).finish();
    }
  };
  const size_t threads =
      std::min<size_t>(static_cast<size_t>(std::max(options.threads, 1)), chunks.size());
  if (threads <= 1) {
    worker();
  } else {
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    for (size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (std::thread& thread : pool) thread.join();
  }
  Answers answers{answer_shape(long_format), {}};
  for (std::vector<BuiltBatch>& output : outputs) {
    for (BuiltBatch& batch : output) answers.batches.push_back(std::move(batch));
  }
  return answers;
}

void collect_tree_fields(const TargetingTree& tree, std::unordered_set<std::string>& out) {
  auto field = [&](const ContextField& f) {
    if (f.is_other()) out.emplace(f.name());
  };
  std::visit(Overloaded{
                 [&](const AllNode& n) {
                   for (const TargetingTree& child : n.children) collect_tree_fields(child, out);
                 },
                 [&](const AnyNode& n) {
                   for (const TargetingTree& child : n.children) collect_tree_fields(child, out);
                 },
                 [&](const NotNode& n) { collect_tree_fields(*n.child, out); },
                 [&](const EqNode& n) {
                   std::visit([&](const auto& eq) { field(eq.field); }, n.eq);
                 },
                 [&](const NeNode& n) { field(n.field); },
                 [&](const CompareNode& n) { field(n.field); },
             },
             tree.node);
}

// Walks the feature and its groups with a list of its own rather than by recursion: a
// chain of groups may be hundreds of thousands long.
void collect_feature_fields(const Feature& root, std::unordered_set<const Feature*>& seen,
                            std::unordered_set<std::string>& out) {
  std::vector<const Feature*> pending{&root};
  while (!pending.empty()) {
    const Feature& feature = *pending.back();
    pending.pop_back();
    if (!seen.insert(&feature).second) continue;
    if (feature.targeting) collect_tree_fields(*feature.targeting, out);
    if (feature.overrides) {
      for (const OverrideMap& map : *feature.overrides) {
        for (const auto& [variant, tree] : map) collect_tree_fields(tree, out);
      }
    }
    if (const auto& set = feature.variant_set) {
      if (set->bucket_val && set->bucket_val->is_other()) out.emplace(set->bucket_val->name());
      if (set->holdout) pending.push_back(set->holdout.get());
      if (set->mutex_group) pending.push_back(set->mutex_group.get());
    }
  }
}

}  // namespace

Answers every_row_failing(const std::vector<const RowSource*>& sources, std::string_view error,
                          bool long_format, const BatchOptions& options) {
  Answer answer;
  answer.error = error;
  return run_chunks(sources, options, long_format, 1,
                    [&](const Chunk& chunk, int64_t row, ChunkWriter& writer, Scratch&) {
                      writer.write(chunk.first_row + row - chunk.begin, std::nullopt, answer);
                    });
}

Answers assign(const Orvane& engine, std::string_view feature_name,
               const std::vector<const RowSource*>& sources, const BatchOptions& options) {
  Result<const Feature*, OrvaneError> found =
      chosen_feature(engine, feature_name, options.identifier_type);
  if (!found) return every_row_failing(sources, found.error().display(), false, options);
  const Feature& feature = **found;
  return run_chunks(sources, options, false, 1,
                    [&](const Chunk& chunk, int64_t row, ChunkWriter& writer, Scratch& scratch) {
                      Answer answer;
                      const Context* ctx =
                          chunk.source->context(row, scratch.context, scratch.conversion_error);
                      if (ctx == nullptr) {
                        answer.error = scratch.conversion_error;
                        writer.write(0, std::nullopt, answer);
                        return;
                      }
                      // Initialised straight from the call (no move into a default run);
                      // the answer points into it, so it outlives the write.
                      const ObservedRun run = decide_observed(engine, feature, *ctx);
                      answer_of(engine, run, scratch, answer);
                      writer.write(0, std::nullopt, answer);
                    });
}

Answers assign_all(const Orvane& engine, const std::vector<const RowSource*>& sources,
                   const BatchOptions& options) {
  // choose_all keeps the last feature of a name; the table lists names as they first come.
  std::vector<const Feature*> features;
  std::unordered_map<std::string_view, size_t> position;
  for (const auto& feature : engine.features()) {
    if (!decided_by_choose_all(*feature, options.identifier_type)) continue;
    auto [it, added] = position.emplace(feature->name, features.size());
    if (added) {
      features.push_back(feature.get());
    } else {
      features[it->second] = feature.get();
    }
  }
  return run_chunks(
      sources, options, true, static_cast<int64_t>(features.size()),
      [&](const Chunk& chunk, int64_t row, ChunkWriter& writer, Scratch& scratch) {
        const int64_t table_row = chunk.first_row + row - chunk.begin;
        const Context* ctx = chunk.source->context(row, scratch.context, scratch.conversion_error);
        for (const Feature* feature : features) {
          Answer answer;
          if (ctx == nullptr) {
            answer.error = scratch.conversion_error;
            writer.write(table_row, std::string_view(feature->name), answer);
            continue;
          }
          // The answer points into the run, which must outlive the write.
          const ObservedRun run = decide_observed(engine, *feature, *ctx);
          answer_of(engine, run, scratch, answer);
          writer.write(table_row, std::string_view(feature->name), answer);
        }
      });
}

std::unordered_set<std::string> other_fields_read(const Orvane& engine) {
  std::unordered_set<std::string> names;
  std::unordered_set<const Feature*> seen;
  for (const auto& feature : engine.features()) collect_feature_fields(*feature, seen, names);
  return names;
}

}  // namespace orvane
