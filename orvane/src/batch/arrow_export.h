#pragma once
// Answer columns built row by row in memory that Arrow then owns: exporting hands the
// buffers over without a copy, and Arrow's release frees them.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
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
  // The appends run once per row and column of a batch's answers, so they are inline and,
  // with room reserved, come down to a bit, a slot and (for text) one copy. The buffers
  // are zeroed when they grow: a null or a false bit needs no store.
  void append_null() {
    make_room();
    ++nulls_;
    if (type_ == Type::Utf8) {
      offsets_[static_cast<size_t>(length_) + 1] = static_cast<int32_t>(text_size_);
    }
    ++length_;
  }
  void append_text(std::string_view text) {  // Utf8 columns
    make_room();
    set_valid();
    if (text_capacity_ - text_size_ < text.size()) grow_text(text.size());
    if (!text.empty()) std::memcpy(text_.get() + text_size_, text.data(), text.size());
    text_size_ += text.size();
    offsets_[static_cast<size_t>(length_) + 1] = static_cast<int32_t>(text_size_);
    ++length_;
  }
  void append_int(int64_t value) {  // Int16 and Int64 columns
    make_room();
    set_valid();
    if (type_ == Type::Int16) {
      int16s_[static_cast<size_t>(length_)] = static_cast<int16_t>(value);
    } else {
      int64s_[static_cast<size_t>(length_)] = value;
    }
    ++length_;
  }
  // Whether `bytes` more text still fits the 32-bit offsets of a string column.
  bool has_room(size_t bytes) const;

  // For the export and for tests reading the column back; the vectors may hold room past
  // length() (zeroed).
  const std::vector<uint8_t>& validity() const { return validity_; }
  const std::vector<int32_t>& offsets() const { return offsets_; }
  std::string_view data() const { return {text_ != nullptr ? text_.get() : "", text_size_}; }
  const std::vector<int16_t>& int16s() const { return int16s_; }
  const std::vector<int64_t>& int64s() const { return int64s_; }

 private:
  void make_room() {
    if (length_ == capacity_) grow(std::max<int64_t>(capacity_, 64));
  }
  void set_valid() {
    validity_[static_cast<size_t>(length_ >> 3)] |= static_cast<uint8_t>(1u << (length_ & 7));
  }
  void grow(int64_t rows);
  void grow_text(size_t bytes);

  std::string name_;
  Type type_;
  int64_t length_ = 0;
  int64_t capacity_ = 0;  // rows the buffers below hold
  int64_t nulls_ = 0;
  std::vector<uint8_t> validity_;
  std::vector<int32_t> offsets_;
  std::unique_ptr<char[]> text_;
  size_t text_size_ = 0;
  size_t text_capacity_ = 0;
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
