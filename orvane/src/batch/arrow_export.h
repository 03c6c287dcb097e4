#pragma once
// Answer columns built row by row in memory that Arrow then owns: exporting hands the
// buffers over without a copy, and Arrow's release frees them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "batch/arrow_c.h"

namespace orvane {

class ColumnBuilder {
 public:
  enum class Type { Utf8, Int16, Int64 };

  ColumnBuilder(std::string name, Type type);

  const std::string& name() const { return name_; }
  Type type() const { return type_; }
  int64_t length() const { return length_; }
  int64_t null_count() const { return nulls_; }

  // Room for `rows` more rows without reallocating (text aside).
  void reserve(int64_t rows);
  void append_null();
  void append_text(std::string_view text);  // Utf8 columns
  void append_int(int64_t value);           // Int16 and Int64 columns
  // Whether `bytes` more text still fits the 32-bit offsets of a string column.
  bool has_room(size_t bytes) const;

  // For the export and for tests reading the column back.
  const std::vector<uint8_t>& validity() const { return validity_; }
  const std::vector<int32_t>& offsets() const { return offsets_; }
  const std::string& data() const { return data_; }
  const std::vector<int16_t>& int16s() const { return int16s_; }
  const std::vector<int64_t>& int64s() const { return int64s_; }

 private:
  void push_valid(bool valid);

  std::string name_;
  Type type_;
  int64_t length_ = 0;
  int64_t nulls_ = 0;
  std::vector<uint8_t> validity_;
  std::vector<int32_t> offsets_;
  std::string data_;
  std::vector<int16_t> int16s_;
  std::vector<int64_t> int64s_;
};

// Columns of equal length.
using BuiltBatch = std::vector<ColumnBuilder>;

// A struct array of the columns; `out` owns them afterwards.
void export_batch(BuiltBatch&& batch, ArrowArray* out);
// The struct type of a batch's columns (names and types only).
void export_schema(const BuiltBatch& shape, ArrowSchema* out);
// A stream of the batches, all of `shape`'s type; `out` owns them afterwards.
void export_stream(BuiltBatch shape, std::vector<BuiltBatch> batches, ArrowArrayStream* out);

}  // namespace orvane
