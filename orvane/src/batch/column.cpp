#include "batch/column.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace orvane {
namespace {

bool bit(const uint8_t* bitmap, int64_t at) { return (bitmap[at >> 3] >> (at & 7)) & 1; }

template <class T>
T load(const void* buffer, int64_t at) {
  T value;
  std::memcpy(&value, static_cast<const char*>(buffer) + at * static_cast<int64_t>(sizeof(T)),
              sizeof(T));
  return value;
}

Cell int_cell(int64_t value) {
  Cell cell;
  cell.kind = Cell::Kind::Int;
  cell.integer = value;
  return cell;
}

Cell uint_cell(uint64_t value) {
  if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    return int_cell(static_cast<int64_t>(value));
  }
  Cell cell;
  cell.kind = Cell::Kind::UInt;
  cell.unsigned_integer = value;
  return cell;
}

Cell float_cell(double value) {
  Cell cell;
  cell.kind = Cell::Kind::Float;
  cell.number = value;
  return cell;
}

Cell unconvertible() {
  Cell cell;
  cell.kind = Cell::Kind::Unconvertible;
  return cell;
}

double half_to_double(uint16_t half) {
  const int exponent = (half >> 10) & 0x1f;
  const int mantissa = half & 0x3ff;
  double value;
  if (exponent == 0) {
    value = std::ldexp(mantissa, -24);
  } else if (exponent == 31) {
    value = mantissa == 0 ? std::numeric_limits<double>::infinity()
                          : std::numeric_limits<double>::quiet_NaN();
  } else {
    value = std::ldexp(mantissa + 1024, exponent - 25);
  }
  return (half & 0x8000) ? -value : value;
}

// "d:precision,scale" or "d:precision,scale,bitwidth"; the width defaults to 128 bits.
bool parse_decimal_format(std::string_view format, int& bytes, int& scale) {
  format.remove_prefix(2);
  size_t comma = format.find(',');
  if (comma == std::string_view::npos) return false;
  std::string_view rest = format.substr(comma + 1);
  size_t second = rest.find(',');
  std::string_view scale_text = rest.substr(0, second);
  auto parsed = std::from_chars(scale_text.data(), scale_text.data() + scale_text.size(), scale);
  if (parsed.ec != std::errc() || parsed.ptr != scale_text.data() + scale_text.size()) return false;
  int bits = 128;
  if (second != std::string_view::npos) {
    std::string_view bits_text = rest.substr(second + 1);
    auto b = std::from_chars(bits_text.data(), bits_text.data() + bits_text.size(), bits);
    if (b.ec != std::errc() || b.ptr != bits_text.data() + bits_text.size()) return false;
  }
  if (bits != 32 && bits != 64 && bits != 128 && bits != 256) return false;
  bytes = bits / 8;
  return true;
}

struct Layout {
  int64_t buffers;
  int64_t children;
};

}  // namespace

bool valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    // Identifiers and codes are ASCII nearly always: skip eight such bytes at a time.
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    uint32_t min;
    uint32_t code;
    if ((c & 0xe0) == 0xc0) {
      extra = 1, min = 0x80, code = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      extra = 2, min = 0x800, code = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      extra = 3, min = 0x10000, code = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xc0) != 0x80) return false;
      code = (code << 6) | (p[i] & 0x3f);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
    p += extra + 1;
  }
  return true;
}

Column::Column(Column&&) noexcept = default;
Column& Column::operator=(Column&&) noexcept = default;
Column::~Column() = default;

Result<Column, std::string> Column::read(const ArrowSchema& schema, const ArrowArray& array) {
  if (schema.format == nullptr) return Unexpected{std::string("a column has no type")};
  if (array.length < 0 || array.offset < 0) {
    return Unexpected{std::string("a column has a negative length or offset")};
  }
  const std::string_view format = schema.format;
  Column column;
  column.array_ = &array;

  if (schema.dictionary != nullptr) {
    if (array.dictionary == nullptr) {
      return Unexpected{std::string("a dictionary column has no dictionary")};
    }
    auto values = read(*schema.dictionary, *array.dictionary);
    if (!values) return std::move(values).error();
    column.dictionary_ = std::make_unique<Column>(std::move(*values));
  }

  struct Known {
    std::string_view format;
    Type type;
    Layout layout;
  };
  static constexpr Known kKnown[] = {
      {"n", Type::Null, {0, 0}},        {"b", Type::Bool, {2, 0}},
      {"c", Type::Int8, {2, 0}},        {"s", Type::Int16, {2, 0}},
      {"i", Type::Int32, {2, 0}},       {"l", Type::Int64, {2, 0}},
      {"C", Type::UInt8, {2, 0}},       {"S", Type::UInt16, {2, 0}},
      {"I", Type::UInt32, {2, 0}},      {"L", Type::UInt64, {2, 0}},
      {"e", Type::Float16, {2, 0}},     {"f", Type::Float32, {2, 0}},
      {"g", Type::Float64, {2, 0}},     {"u", Type::Utf8, {3, 0}},
      {"U", Type::LargeUtf8, {3, 0}},   {"+s", Type::Struct, {1, -1}},
      {"+m", Type::Map, {2, 1}},
  };
  Layout layout{-1, -1};  // -1: not checked
  column.type_ = Type::OtherWithValidity;
  for (const Known& known : kKnown) {
    if (known.format == format) {
      column.type_ = known.type;
      layout = known.layout;
    }
  }
  if (format == "vu") {
    column.type_ = Type::Utf8View;
    // Validity, views, the variadic data buffers and their sizes.
    if (array.n_buffers < 3) return Unexpected{std::string("a string view column lacks buffers")};
  } else if (format.starts_with("d:")) {
    column.type_ = Type::Decimal;
    if (!parse_decimal_format(format, column.decimal_bytes_, column.decimal_scale_)) {
      return Unexpected{"unreadable decimal type " + std::string(format)};
    }
    layout = {2, 0};
  } else if (format.starts_with("+r") || format.starts_with("+u")) {
    // Run-end encoded and union arrays keep nulls in their children, not in a bitmap.
    column.type_ = Type::OtherWithoutValidity;
  }
  if (column.dictionary_) {
    // The array holds the indices; its format is theirs, and must be an integer type.
    if (column.type_ < Type::Int8 || column.type_ > Type::UInt64) {
      return Unexpected{"dictionary indices of type " + std::string(format)};
    }
  }
  if (layout.buffers >= 0 && array.n_buffers != layout.buffers) {
    return Unexpected{"a column of type " + std::string(format) + " has " +
                      std::to_string(array.n_buffers) + " buffers"};
  }
  if (layout.children >= 0 && array.n_children != layout.children) {
    return Unexpected{"a column of type " + std::string(format) + " has " +
                      std::to_string(array.n_children) + " children"};
  }
  if (column.type_ == Type::OtherWithValidity && array.n_buffers < 1) {
    column.type_ = Type::OtherWithoutValidity;
  }
  if (column.type_ != Type::Null && column.type_ != Type::OtherWithoutValidity &&
      array.n_buffers >= 1) {
    column.validity_ = static_cast<const uint8_t*>(array.buffers[0]);
  }
  if (array.null_count != 0 && column.validity_ == nullptr && column.type_ != Type::Null &&
      column.type_ != Type::OtherWithoutValidity) {
    return Unexpected{std::string("a column has nulls but no validity bitmap")};
  }
  // Value buffers may be missing only when there is nothing to read from them.
  if (array.length > 0) {
    for (int64_t i = 1; i < array.n_buffers && layout.buffers > 0; ++i) {
      if (array.buffers[i] == nullptr) {
        return Unexpected{"a column of type " + std::string(format) + " lacks a buffer"};
      }
    }
    // The sizes of the data buffers come last; with no data buffer (every string short
    // enough to sit in its view) producers may leave them out.
    if (column.type_ == Type::Utf8View &&
        (array.buffers[1] == nullptr ||
         (array.n_buffers > 3 && array.buffers[array.n_buffers - 1] == nullptr))) {
      return Unexpected{std::string("a string view column lacks a buffer")};
    }
  }

  if (column.type_ == Type::Struct) {
    if (schema.n_children != array.n_children) {
      return Unexpected{std::string("a struct column's type and array disagree")};
    }
    for (int64_t i = 0; i < array.n_children; ++i) {
      auto child = read(*schema.children[i], *array.children[i]);
      if (!child) return std::move(child).error();
      if (child->length() < array.offset + array.length) {
        return Unexpected{std::string("a struct field is shorter than its struct")};
      }
      column.children_.push_back(std::move(*child));
      const char* name = schema.children[i]->name;
      column.names_.emplace_back(name != nullptr ? name : "");
    }
  } else if (column.type_ == Type::Map) {
    const ArrowSchema& entries_schema = *schema.children[0];
    const ArrowArray& entries = *array.children[0];
    if (schema.n_children != 1 || entries_schema.n_children != 2 || entries.n_children != 2) {
      return Unexpected{std::string("a map column is not a list of key and value pairs")};
    }
    column.map_entries_offset_ = entries.offset;
    for (int i = 0; i < 2; ++i) {
      auto child = read(*entries_schema.children[i], *entries.children[i]);
      if (!child) return std::move(child).error();
      column.children_.push_back(std::move(*child));
    }
  }
  return column;
}

Column::Plain Column::plain() const {
  if (dictionary_) return Plain::Other;
  switch (type_) {
    case Type::Bool: return Plain::Bool;
    case Type::Int8: return Plain::Int8;
    case Type::Int16: return Plain::Int16;
    case Type::Int32: return Plain::Int32;
    case Type::Int64: return Plain::Int64;
    case Type::Utf8: return Plain::Utf8;
    case Type::Null:
    case Type::UInt8:
    case Type::UInt16:
    case Type::UInt32:
    case Type::UInt64:
    case Type::Float16:
    case Type::Float32:
    case Type::Float64:
    case Type::Decimal:
    case Type::LargeUtf8:
    case Type::Utf8View:
    case Type::Struct:
    case Type::Map:
    case Type::OtherWithValidity:
    case Type::OtherWithoutValidity: return Plain::Other;
  }
  return Plain::Other;
}

Cell Column::string_cell(const char* data, int64_t size) const {
  std::string_view text(data, static_cast<size_t>(size));
  if (!valid_utf8(text)) return unconvertible();
  Cell cell;
  cell.kind = Cell::Kind::String;
  cell.text = text;
  return cell;
}

template <class Offset>
Cell Column::offset_string(int64_t at) const {
  const void* offsets = array_->buffers[1];
  // The last offset bounds the data buffer, whose size the interface does not give.
  const Offset last = load<Offset>(offsets, array_->offset + array_->length);
  const Offset begin = load<Offset>(offsets, at);
  const Offset end = load<Offset>(offsets, at + 1);
  if (begin < 0 || end < begin || end > last) return unconvertible();
  return string_cell(static_cast<const char*>(array_->buffers[2]) + begin,
                     static_cast<int64_t>(end - begin));
}

Cell Column::decimal_cell(int64_t at) const {
  // Python's float of a Decimal is the double nearest the decimal text, so the value is
  // written in decimal and read back by the correctly rounding parser. Words are little
  // endian, two's complement.
  uint32_t words[8] = {};
  const int count = decimal_bytes_ / 4;
  std::memcpy(words, static_cast<const char*>(array_->buffers[1]) + at * decimal_bytes_,
              static_cast<size_t>(decimal_bytes_));
  const bool negative = (words[count - 1] & 0x80000000u) != 0;
  if (negative) {
    uint64_t carry = 1;
    for (int i = 0; i < count; ++i) {
      uint64_t sum = uint64_t{static_cast<uint32_t>(~words[i])} + carry;
      words[i] = static_cast<uint32_t>(sum);
      carry = sum >> 32;
    }
  }
  char digits[96];
  int length = 0;
  for (bool zero = false; !zero;) {
    uint64_t remainder = 0;
    zero = true;
    for (int i = count - 1; i >= 0; --i) {
      uint64_t current = (remainder << 32) | words[i];
      words[i] = static_cast<uint32_t>(current / 10);
      remainder = current % 10;
      if (words[i] != 0) zero = false;
    }
    digits[length++] = static_cast<char>('0' + remainder);
  }
  std::string text = negative ? "-" : "";
  for (int i = length - 1; i >= 0; --i) text += digits[i];
  text += 'e';
  text += std::to_string(-decimal_scale_);
  double value = 0.0;
  auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  if (parsed.ec == std::errc::result_out_of_range) {
    value = std::numeric_limits<double>::infinity();  // Python rounds past the range to inf
  }
  return float_cell(value);
}

Cell Column::read_value(int64_t at) const {
  const void* const* buffers = array_->buffers;
  switch (type_) {
    case Type::Null: return Cell{};
    case Type::Bool: {
      Cell cell;
      cell.kind = Cell::Kind::Bool;
      cell.boolean = bit(static_cast<const uint8_t*>(buffers[1]), at);
      return cell;
    }
    case Type::Int8: return int_cell(load<int8_t>(buffers[1], at));
    case Type::Int16: return int_cell(load<int16_t>(buffers[1], at));
    case Type::Int32: return int_cell(load<int32_t>(buffers[1], at));
    case Type::Int64: return int_cell(load<int64_t>(buffers[1], at));
    case Type::UInt8: return int_cell(load<uint8_t>(buffers[1], at));
    case Type::UInt16: return int_cell(load<uint16_t>(buffers[1], at));
    case Type::UInt32: return int_cell(load<uint32_t>(buffers[1], at));
    case Type::UInt64: return uint_cell(load<uint64_t>(buffers[1], at));
    case Type::Float16: return float_cell(half_to_double(load<uint16_t>(buffers[1], at)));
    case Type::Float32: return float_cell(load<float>(buffers[1], at));
    case Type::Float64: return float_cell(load<double>(buffers[1], at));
    case Type::Decimal: return decimal_cell(at);
    case Type::Utf8: return offset_string<int32_t>(at);
    case Type::LargeUtf8: return offset_string<int64_t>(at);
    case Type::Utf8View: {
      const char* view = static_cast<const char*>(buffers[1]) + at * 16;
      int32_t size;
      std::memcpy(&size, view, 4);
      if (size < 0) return unconvertible();
      if (size <= 12) return string_cell(view + 4, size);
      int32_t index;
      int32_t offset;
      std::memcpy(&index, view + 8, 4);
      std::memcpy(&offset, view + 12, 4);
      const int64_t variadic = array_->n_buffers - 3;
      if (index < 0 || index >= variadic || offset < 0) return unconvertible();
      const int64_t buffer_size = load<int64_t>(buffers[array_->n_buffers - 1], index);
      if (int64_t{offset} + size > buffer_size || buffers[2 + index] == nullptr) {
        return unconvertible();
      }
      return string_cell(static_cast<const char*>(buffers[2 + index]) + offset, size);
    }
    case Type::Struct:
    case Type::Map:
    case Type::OtherWithValidity:
    case Type::OtherWithoutValidity: return unconvertible();
  }
  return unconvertible();
}

Cell Column::dictionary_cell(int64_t at) const {
  // The value read is an index into the dictionary.
  Cell index = read_value(at);
  if (index.kind != Cell::Kind::Int || index.integer < 0 ||
      index.integer >= dictionary_->length()) {
    return unconvertible();
  }
  return dictionary_->cell(index.integer);
}

bool Column::map_entries(int64_t index, int64_t& begin, int64_t& end) const {
  const int64_t at = index + array_->offset;
  if (is_null(at)) return false;
  const int32_t first = load<int32_t>(array_->buffers[1], at);
  const int32_t last = load<int32_t>(array_->buffers[1], at + 1);
  const int64_t entries = keys().length() - map_entries_offset_;
  if (first < 0 || last < first || last > entries) return false;
  begin = first + map_entries_offset_;
  end = last + map_entries_offset_;
  return true;
}

}  // namespace orvane
