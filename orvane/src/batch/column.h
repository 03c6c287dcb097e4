#pragma once
// Reads one Arrow column cell by cell, as the Python value make_ctx would be handed for it:
// a string, a boolean, an integer, a float, or a value no key accepts (bytes, dates,
// lists...). The column borrows the producer's buffers and copies nothing.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "batch/arrow_c.h"

namespace orvane {

struct Cell {
  enum class Kind {
    Null,
    Bool,
    Int,           // fits a signed 64-bit integer
    UInt,          // an unsigned integer above the signed 64-bit range
    Float,         // floats and decimals: Python gives both a float
    String,        // valid UTF-8 only: a Python str cannot hold anything else
    Unconvertible  // bytes, dates, times, lists, structs, ...: no key accepts them
  };
  Kind kind = Kind::Null;
  bool boolean = false;
  int64_t integer = 0;
  uint64_t unsigned_integer = 0;
  double number = 0.0;
  std::string_view text;
};

class Column {
 public:
  // Checks the array's layout against its type; the arrays must outlive the column. Types
  // the reader does not know give Unconvertible cells (null where their validity says so).
  static Result<Column, std::string> read(const ArrowSchema& schema, const ArrowArray& array);

  Column(Column&&) noexcept;
  Column& operator=(Column&&) noexcept;
  ~Column();

  int64_t length() const { return array_->length; }
  int64_t offset() const { return array_->offset; }
  // The value at `index` (0 to length() - 1, before the array's own offset). Inline: it
  // runs once per column and row.
  Cell cell(int64_t index) const {
    const int64_t at = index + array_->offset;
    if (type_ == Type::Null || is_null(at)) return Cell{};
    return dictionary_ ? dictionary_cell(at) : read_value(at);
  }

  // The layouts a reader may take straight from the buffers, having looked at the type
  // once for the whole column instead of once per cell: plain booleans, signed integers and
  // strings with 32-bit offsets, not dictionary-encoded. Anything else is Other, read
  // through cell().
  enum class Plain { Other, Bool, Int8, Int16, Int32, Int64, Utf8 };
  Plain plain() const;
  // Whether the cell at the absolute position `at` (index + offset()) is null.
  bool null_at(int64_t at) const { return type_ == Type::Null || is_null(at); }
  const ArrowArray& array() const { return *array_; }

  // A struct column: its fields, in order, and their names.
  bool is_struct() const { return type_ == Type::Struct; }
  const std::vector<Column>& fields() const { return children_; }
  const std::vector<std::string>& field_names() const { return names_; }
  // A map column: the entries of row `index` are keys().cell(k) and values().cell(k) for k
  // in [begin, end); false when the row is null or its offsets are out of bounds.
  bool is_map() const { return type_ == Type::Map; }
  bool map_entries(int64_t index, int64_t& begin, int64_t& end) const;
  const Column& keys() const { return children_[0]; }
  const Column& values() const { return children_[1]; }

 private:
  enum class Type {
    Null,
    Bool,
    Int8, Int16, Int32, Int64, UInt8, UInt16, UInt32, UInt64,
    Float16, Float32, Float64,
    Decimal,
    Utf8, LargeUtf8, Utf8View,
    Struct, Map,
    OtherWithValidity,  // a type we do not read whose first buffer is a validity bitmap
    OtherWithoutValidity
  };

  Column() = default;
  bool is_null(int64_t at) const {
    return validity_ != nullptr && !((validity_[at >> 3] >> (at & 7)) & 1);
  }
  Cell read_value(int64_t at) const;
  Cell dictionary_cell(int64_t at) const;
  template <class Offset>
  Cell offset_string(int64_t at) const;
  Cell string_cell(const char* data, int64_t size) const;
  Cell decimal_cell(int64_t at) const;

  Type type_ = Type::Null;
  const ArrowArray* array_ = nullptr;
  const uint8_t* validity_ = nullptr;
  int decimal_bytes_ = 0;
  int decimal_scale_ = 0;
  std::vector<Column> children_;     // struct fields; map keys and values
  std::vector<std::string> names_;   // struct field names
  std::unique_ptr<Column> dictionary_;
  int64_t map_entries_offset_ = 0;   // offset of the map's entries struct
};

// Whether `text` is valid UTF-8.
bool valid_utf8(std::string_view text);

}  // namespace orvane
