// Decides bench/batch.py's table in C++ alone, for counting instructions per row with
// callgrind (valgrind runs the Python benchmark's table building far too slowly):
//
//   orvane_batch_driver ROWS [THREADS]
//
// Builds the same columns (user_id, country_code, build_number, logged_in) and feature
// (bucketed by user_id behind five targeting leaves), assigns every row once and prints
// the variant counts, so a change that alters the answers shows up here too.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "batch/assign.h"
#include "batch/table_rows.h"
#include "engine/loader.h"

namespace {

constexpr const char* kChain =
    "darkmode targeting overrides holdout mutex_group fractional_availability value";
constexpr const char* kFeature = "search_ranking_v2";
constexpr const char* kConfig = R"({"search_ranking_v2": {
  "id": 17, "name": "search_ranking_v2", "enabled": true, "version": "2", "owner": "search",
  "type": "range_variant", "emit_event": true,
  "experiment": {
    "experiment_version": 2, "shuffle_version": 2, "bucket_val": "user_id",
    "targeting": {"ANY": [
      {"ALL": [{"EQ": {"field": "logged_in", "value": true}},
               {"GE": {"field": "build_number", "value": 1200}}]},
      {"EQ": {"field": "country_code", "values": ["US", "CA", "GB"]}},
      {"LT": {"field": "build_number", "value": 100}},
      {"EQ": {"field": "country_code", "value": "AU"}}]},
    "variants": [{"name": "control_1", "range_start": 0.0, "range_end": 0.45},
                 {"name": "treatment", "range_start": 0.45, "range_end": 0.9}]}}})";

// A column as pyarrow lays it out: no validity bitmap when nothing is null.
struct Column {
  Column(std::string n, std::string f) : name(std::move(n)), format(std::move(f)) {}
  std::string name;
  std::string format;
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<const void*> pointers;
  ArrowSchema schema{};
  ArrowArray array{};

  void finish(int64_t rows) {
    pointers.push_back(nullptr);
    for (auto& b : buffers) pointers.push_back(b.data());
    schema = {format.c_str(), name.c_str(), nullptr, ARROW_FLAG_NULLABLE, 0, nullptr, nullptr,
              nullptr, nullptr};
    array = {rows, 0, 0, static_cast<int64_t>(pointers.size()), 0, pointers.data(), nullptr,
             nullptr, nullptr, nullptr};
  }
};

template <class Text>
void texts(Column& c, int64_t rows, Text text) {
  std::vector<uint8_t> offsets(4 * (rows + 1));
  std::vector<uint8_t> data;
  for (int64_t i = 0; i < rows; ++i) {
    std::string t = text(i);
    data.insert(data.end(), t.begin(), t.end());
    const auto end = static_cast<int32_t>(data.size());
    std::memcpy(offsets.data() + 4 * (i + 1), &end, 4);
  }
  data.push_back(0);
  c.buffers = {std::move(offsets), std::move(data)};
  c.finish(rows);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s ROWS [THREADS]\n", argv[0]);
    return 2;
  }
  const int64_t rows = std::atoll(argv[1]);
  const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
  auto engine = orvane::init_orvane_text(kChain, kConfig);
  if (!engine) {
    std::fprintf(stderr, "%s\n", engine.error().display().c_str());
    return 1;
  }

  static const char* kCountries[] = {"US", "DE", "CA", "FR", "GB", "BR", "IN", "AU"};
  std::vector<Column> columns;
  columns.reserve(4);  // the arrays point into the columns: no moving them afterwards
  columns.emplace_back("user_id", "u");
  texts(columns[0], rows, [](int64_t i) {
    char text[32];
    std::snprintf(text, sizeof text, "t2_%llx", static_cast<unsigned long long>(i));
    return std::string(text);
  });
  columns.emplace_back("country_code", "u");
  texts(columns[1], rows, [](int64_t i) { return std::string(kCountries[i % 8]); });
  columns.emplace_back("build_number", "i");
  columns[2].buffers.emplace_back(4 * rows);
  for (int64_t i = 0; i < rows; ++i) {
    const auto build = static_cast<int32_t>(1000 + (i * 7) % 500);
    std::memcpy(columns[2].buffers[0].data() + 4 * i, &build, 4);
  }
  columns[2].finish(rows);
  columns.emplace_back("logged_in", "b");
  columns[3].buffers.emplace_back((rows + 7) / 8);
  for (int64_t i = 0; i < rows; ++i) {
    if (i % 3 != 0) columns[3].buffers[0][i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  columns[3].finish(rows);

  std::vector<ArrowSchema*> schemas;
  std::vector<ArrowArray*> arrays;
  for (Column& c : columns) schemas.push_back(&c.schema), arrays.push_back(&c.array);
  const void* no_validity[1] = {nullptr};
  ArrowSchema schema{"+s", "", nullptr, 0, 4, schemas.data(), nullptr, nullptr, nullptr};
  ArrowArray batch{rows, 0, 0, 1, 4, no_validity, arrays.data(), nullptr, nullptr, nullptr};

  const auto kept = orvane::other_fields_read(*engine);
  auto bound = orvane::TableRows::bind(schema, batch, kept);
  if (!bound) {
    std::fprintf(stderr, "%s\n", bound.error().c_str());
    return 1;
  }
  orvane::BatchOptions options;
  options.threads = threads;
  orvane::Answers answers = orvane::assign(*engine, kFeature, {&*bound}, options);

  // Variant counts, read back from the answer columns.
  std::map<std::string, int64_t> counts;
  for (const orvane::BuiltBatch& out : answers.batches) {
    const orvane::ColumnBuilder& variant = out[0];
    for (int64_t i = 0; i < variant.length(); ++i) {
      const bool valid = (variant.validity()[i / 8] >> (i % 8)) & 1;
      const auto& offsets = variant.offsets();
      const std::string_view text =
          valid ? variant.data().substr(offsets[i], offsets[i + 1] - offsets[i]) : "(null)";
      counts[std::string(text)]++;
    }
  }
  for (const auto& [name, count] : counts) {
    std::printf("%s %lld\n", name.c_str(), static_cast<long long>(count));
  }
  return 0;
}
