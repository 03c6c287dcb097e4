#include "batch/table_rows.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "context/fixed_fields.h"

namespace orvane {
namespace {

// Stores an accepted cell in the context, or answers false for one make_ctx would reject.
using Apply = bool (*)(const Cell&, Context&);
using Clear = void (*)(Context&);

template <auto Member>
bool apply_string(const Cell& cell, Context& ctx) {
  if (cell.kind != Cell::Kind::String) return false;
  auto& field = ctx.*Member;
  // Assigning into the string already there reuses its room from the previous row.
  if (field) {
    field->assign(cell.text);
  } else {
    field.emplace(cell.text);
  }
  return true;
}

template <auto Member>
bool apply_bool(const Cell& cell, Context& ctx) {
  // Only true booleans: make_ctx turns 0 and 1 away from a flag.
  if (cell.kind != Cell::Kind::Bool) return false;
  ctx.*Member = cell.boolean;
  return true;
}

template <auto Member, class Int>
bool apply_integer(const Cell& cell, Context& ctx) {
  // What Python's index protocol accepts: integers, and booleans as 0 and 1; never floats.
  int64_t value;
  if (cell.kind == Cell::Kind::Int) {
    value = cell.integer;
  } else if (cell.kind == Cell::Kind::Bool) {
    value = cell.boolean ? 1 : 0;
  } else {
    return false;
  }
  if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max()) {
    return false;
  }
  ctx.*Member = static_cast<Int>(value);
  return true;
}

template <auto Member>
void clear(Context& ctx) {
  (ctx.*Member).reset();
}

using Read = TableRows::Read;
using ReadKey = TableRows::ReadKey;
using Plain = Column::Plain;

// Any column into any key, cell by cell: the reference the direct readers below agree with.
template <Apply apply, Clear clear_key>
Read through_cells(const Column& column, int64_t index, Context& ctx) {
  const Cell cell = column.cell(index);
  if (cell.kind == Cell::Kind::Null) {
    clear_key(ctx);
    return Read::Absent;
  }
  return apply(cell, ctx) ? Read::Set : Read::Rejected;
}

// The direct readers take the buffers as Column::read checked them; each gives what
// through_cells gives for its layout.
template <class T>
T load_value(const ArrowArray& array, int64_t at) {
  T value;
  std::memcpy(&value, static_cast<const char*>(array.buffers[1]) + at * int64_t{sizeof(T)},
              sizeof(T));
  return value;
}

template <auto Member>
Read utf8_into_string(const Column& column, int64_t index, Context& ctx) {
  const int64_t at = index + column.offset();
  if (column.null_at(at)) {
    (ctx.*Member).reset();
    return Read::Absent;
  }
  const ArrowArray& array = column.array();
  // The last offset bounds the data buffer, whose size the interface does not give.
  const int32_t last = load_value<int32_t>(array, array.offset + array.length);
  const int32_t begin = load_value<int32_t>(array, at);
  const int32_t end = load_value<int32_t>(array, at + 1);
  if (begin < 0 || end < begin || end > last) return Read::Rejected;
  const std::string_view text(static_cast<const char*>(array.buffers[2]) + begin,
                              static_cast<size_t>(end - begin));
  if (!valid_utf8(text)) return Read::Rejected;
  auto& field = ctx.*Member;
  // Assigning into the string already there reuses its room from the previous row.
  if (field) {
    field->assign(text);
  } else {
    field.emplace(text);
  }
  return Read::Set;
}

template <auto Member>
Read bool_into_flag(const Column& column, int64_t index, Context& ctx) {
  const int64_t at = index + column.offset();
  if (column.null_at(at)) {
    (ctx.*Member).reset();
    return Read::Absent;
  }
  const auto* bits = static_cast<const uint8_t*>(column.array().buffers[1]);
  ctx.*Member = ((bits[at >> 3] >> (at & 7)) & 1) != 0;
  return Read::Set;
}

template <auto Member, class Int, class Stored>
Read int_into_integer(const Column& column, int64_t index, Context& ctx) {
  const int64_t at = index + column.offset();
  if (column.null_at(at)) {
    (ctx.*Member).reset();
    return Read::Absent;
  }
  const Stored value = load_value<Stored>(column.array(), at);
  if constexpr (sizeof(Stored) > sizeof(Int)) {
    if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max()) {
      return Read::Rejected;
    }
  }
  ctx.*Member = static_cast<Int>(value);
  return Read::Set;
}

struct Key {
  std::string_view name;
  const char* type_word;
  Clear clear;
  ReadKey through_cells;
  // The direct reader of a layout, or null where only through_cells will do.
  ReadKey (*direct)(Plain);
};

template <auto Member>
ReadKey string_direct(Plain plain) {
  return plain == Plain::Utf8 ? utf8_into_string<Member> : nullptr;
}

template <auto Member>
ReadKey bool_direct(Plain plain) {
  return plain == Plain::Bool ? bool_into_flag<Member> : nullptr;
}

template <auto Member, class Int>
ReadKey integer_direct(Plain plain) {
  switch (plain) {
    case Plain::Int8: return int_into_integer<Member, Int, int8_t>;
    case Plain::Int16: return int_into_integer<Member, Int, int16_t>;
    case Plain::Int32: return int_into_integer<Member, Int, int32_t>;
    case Plain::Int64: return int_into_integer<Member, Int, int64_t>;
    case Plain::Other:
    case Plain::Bool:
    case Plain::Utf8: return nullptr;
  }
  return nullptr;
}

template <auto Member>
constexpr Key string_key(std::string_view name) {
  return {name, "string", clear<Member>, through_cells<apply_string<Member>, clear<Member>>,
          string_direct<Member>};
}

template <auto Member>
constexpr Key bool_key(std::string_view name) {
  return {name, "bool", clear<Member>, through_cells<apply_bool<Member>, clear<Member>>,
          bool_direct<Member>};
}

template <auto Member, class Int>
constexpr Key integer_key(std::string_view name) {
  return {name, "integer", clear<Member>,
          through_cells<apply_integer<Member, Int>, clear<Member>>, integer_direct<Member, Int>};
}

// The key of one fixed field, read through the member the context table names for it.
template <FixedField Field>
constexpr Key key_of() {
  constexpr const FixedFieldInfo& info = fixed_field_info(Field);
  if constexpr (info.value == FieldValue::String) {
    return string_key<info.text>(info.name);
  } else if constexpr (info.value == FieldValue::Bool) {
    return bool_key<info.flag>(info.name);
  } else if constexpr (info.value == FieldValue::Int32) {
    return integer_key<info.int32, int32_t>(info.name);
  } else {
    return integer_key<info.int64, int64_t>(info.name);
  }
}

template <size_t... I>
constexpr std::array<Key, sizeof...(I)> keys_in_read_order(std::index_sequence<I...>) {
  return {key_of<kReadOrder[I]>()...};
}

// make_ctx's keys in the order it reads them, which is the order of its messages.
constexpr auto kKeys = keys_in_read_order(std::make_index_sequence<kFixedFieldCount>());
constexpr std::string_view kOtherFields = kOtherFieldsName;

void append_message(std::string& error, std::string_view key, const char* type_word) {
  if (!error.empty()) error += '\n';
  error += '"';
  error += key;
  error += "\" type mismatch (";
  error += type_word;
  error += ").";
}

// One other_fields value as make_ctx reads it: a boolean, a string, an integer, then a
// float; a null (and a float JSON cannot hold) is no entry. False when it is rejected.
bool other_value(const Cell& cell, std::optional<Json>& out) {
  out.reset();
  switch (cell.kind) {
    case Cell::Kind::Null: return true;
    case Cell::Kind::Bool: out.emplace(cell.boolean); return true;
    case Cell::Kind::String: out.emplace(std::string(cell.text)); return true;
    case Cell::Kind::Int:
      // Non-negative integers are unsigned in the JSON value, as everywhere in the engine.
      if (cell.integer >= 0) {
        out.emplace(static_cast<uint64_t>(cell.integer));
      } else {
        out.emplace(cell.integer);
      }
      return true;
    case Cell::Kind::UInt: out.emplace(static_cast<double>(cell.unsigned_integer)); return true;
    case Cell::Kind::Float:
      if (std::isfinite(cell.number)) out.emplace(cell.number);
      return true;
    case Cell::Kind::Unconvertible: return false;
  }
  return false;
}

bool acceptable_other_value(const Cell& cell) { return cell.kind != Cell::Kind::Unconvertible; }

}  // namespace

Result<TableRows, std::string> TableRows::bind(const ArrowSchema& schema, const ArrowArray& batch,
                                               const std::unordered_set<std::string>& kept) {
  if (schema.format == nullptr || std::string_view(schema.format) != "+s") {
    return Unexpected{std::string("the table's batches are not struct arrays")};
  }
  if (schema.n_children != batch.n_children || batch.length < 0 || batch.offset < 0) {
    return Unexpected{std::string("a batch does not match the table's schema")};
  }
  TableRows rows;
  rows.rows_ = batch.length;
  rows.row_offset_ = batch.offset;
  rows.kept_ = &kept;
  if (batch.n_buffers >= 1 && batch.null_count != 0) {
    rows.row_validity_ = static_cast<const uint8_t*>(batch.buffers[0]);
  }

  // Of two columns with one name the later wins, as in a dict built from the row.
  std::vector<std::optional<Column>> by_key(std::size(kKeys));
  for (int64_t i = 0; i < batch.n_children; ++i) {
    auto column = Column::read(*schema.children[i], *batch.children[i]);
    const char* raw_name = schema.children[i]->name;
    const std::string name = raw_name != nullptr ? raw_name : "";
    if (!column) return Unexpected{"column \"" + name + "\": " + column.error()};
    if (column->length() < batch.offset + batch.length) {
      return Unexpected{"column \"" + name + "\" is shorter than the table"};
    }
    bool is_key = false;
    for (size_t k = 0; k < std::size(kKeys); ++k) {
      if (kKeys[k].name == name) {
        by_key[k] = std::move(*column);
        is_key = true;
      }
    }
    if (is_key) continue;
    if (name == kOtherFields) {
      rows.other_fields_ = std::move(*column);
      continue;
    }
    std::erase_if(rows.entries_, [&](const EntryColumn& e) { return e.name == name; });
    const bool keep = kept.contains(name);
    rows.entries_.push_back(EntryColumn{name, keep, std::move(*column)});
  }
  for (size_t k = 0; k < by_key.size(); ++k) {
    if (!by_key[k]) continue;
    ReadKey read = kKeys[k].direct(by_key[k]->plain());
    if (read == nullptr) read = kKeys[k].through_cells;
    rows.keys_.push_back(KeyColumn{static_cast<int>(k), std::move(*by_key[k]), read});
  }
  if (rows.other_fields_ && rows.other_fields_->is_struct()) {
    for (const std::string& name : rows.other_fields_->field_names()) {
      rows.other_fields_kept_.push_back(kept.contains(name));
    }
  }
  return rows;
}

bool TableRows::read_other_fields(int64_t row, Context& ctx) const {
  JsonObject& fields = *ctx.other_fields;
  std::optional<Json> value;
  // The other_fields column first, so that a column of the same name wins.
  if (other_fields_) {
    const Column& column = *other_fields_;
    const int64_t at = row + row_offset_;
    if (column.is_struct()) {
      if (column.cell(at).kind != Cell::Kind::Null) {
        const std::vector<Column>& children = column.fields();
        for (size_t i = 0; i < children.size(); ++i) {
          // A struct's offset applies to its fields' positions too.
          Cell cell = children[i].cell(at + column.offset());
          if (!other_fields_kept_[i]) {
            if (!acceptable_other_value(cell)) return false;
            continue;
          }
          if (!other_value(cell, value)) return false;
          if (value) fields.insert_or_assign(column.field_names()[i], std::move(*value));
        }
      }
    } else if (column.is_map()) {
      int64_t begin = 0;
      int64_t end = 0;
      if (column.map_entries(at, begin, end)) {
        for (int64_t k = begin; k < end; ++k) {
          Cell key = column.keys().cell(k);
          if (key.kind != Cell::Kind::String) return false;
          if (!other_value(column.values().cell(k), value)) return false;
          if (value && kept_->contains(std::string(key.text))) {
            fields.insert_or_assign(std::string(key.text), std::move(*value));
          }
        }
      } else if (column.cell(at).kind == Cell::Kind::Unconvertible) {
        return false;  // offsets out of bounds: not a map make_ctx could have been given
      }
    } else if (column.cell(at).kind != Cell::Kind::Null) {
      return false;
    }
  }
  for (const EntryColumn& entry : entries_) {
    Cell cell = entry.column.cell(row + row_offset_);
    if (!entry.kept) {
      if (!acceptable_other_value(cell)) return false;
      continue;
    }
    if (!other_value(cell, value)) return false;
    if (value) fields.insert_or_assign(entry.name, std::move(*value));
  }
  return true;
}

const Context* TableRows::context(int64_t row, Context& scratch, std::string& error) const {
  error.clear();
  const bool row_null = row_validity_ != nullptr &&
                        !((row_validity_[(row + row_offset_) >> 3] >> ((row + row_offset_) & 7)) & 1);
  for (const KeyColumn& key : keys_) {
    const Key& spec = kKeys[key.key];
    if (row_null) {
      spec.clear(scratch);
    } else if (key.read(key.column, row + row_offset_, scratch) == Read::Rejected) {
      spec.clear(scratch);
      append_message(error, spec.name, spec.type_word);
    }
  }
  if (other_fields_ || !entries_.empty()) {
    if (scratch.other_fields) {
      scratch.other_fields->clear();
    } else {
      scratch.other_fields.emplace();
    }
    if (!row_null && !read_other_fields(row, scratch)) {
      scratch.other_fields.reset();
      append_message(error, kOtherFields, "hashmap");
    }
  }
  return error.empty() ? &scratch : nullptr;
}

std::vector<std::pair<std::string, std::string>> TableRows::bindings() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const KeyColumn& key : keys_) {
    out.emplace_back(std::string(kKeys[key.key].name), std::string(kKeys[key.key].name));
  }
  if (other_fields_) out.emplace_back(std::string(kOtherFields), std::string(kOtherFields));
  for (const EntryColumn& entry : entries_) out.emplace_back(entry.name, "other_fields entry");
  return out;
}

}  // namespace orvane
