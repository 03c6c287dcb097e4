#pragma once
// The rows of one Arrow record batch as request contexts. A column named like one of
// make_ctx's keys converts as make_ctx converts that key's value; a column "other_fields"
// (a struct or a map) and every other column give entries of other_fields, a column
// winning over an other_fields entry of the same name. A null is an absent key. A value
// make_ctx would reject gives the row make_ctx's messages instead of a context.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/result.h"
#include "batch/arrow_c.h"
#include "batch/column.h"
#include "batch/rows.h"

namespace orvane {

class TableRows : public RowSource {
 public:
  // `batch` is a struct array (a record batch) of type `schema`; both must outlive the
  // rows. Only the other_fields entries named in `kept` are built into the contexts, since
  // no decision can read the others; all of them are still checked. Fails when the arrays
  // are malformed (not when values are unusable).
  static Result<TableRows, std::string> bind(const ArrowSchema& schema, const ArrowArray& batch,
                                             const std::unordered_set<std::string>& kept);

  int64_t rows() const override { return rows_; }
  const Context* context(int64_t row, Context& scratch, std::string& error) const override;

  // What a column fed, by name, in column order: a key such as "user_id", "other_fields",
  // or "other_fields entry" for the rest. For messages and tests.
  std::vector<std::pair<std::string, std::string>> bindings() const;

  // What reading one key's cell did to the context: set the key, made it absent (a null),
  // or rejected the value (the caller clears the key and adds make_ctx's message).
  enum class Read { Set, Absent, Rejected };
  // Reads the cell at `index` (as Column::cell takes it) into the key's field.
  using ReadKey = Read (*)(const Column&, int64_t index, Context&);

 private:
  struct KeyColumn {
    int key;  // index into the table of make_ctx's keys
    Column column;
    // Chosen once by the column's layout and the key's type, so that the common pairs
    // (strings into string keys, integers into integer keys...) read the buffers directly.
    ReadKey read;
  };
  struct EntryColumn {
    std::string name;
    bool kept;
    Column column;
  };

  TableRows() = default;
  bool read_other_fields(int64_t row, Context& ctx) const;

  int64_t rows_ = 0;
  const uint8_t* row_validity_ = nullptr;  // the batch's own validity, rarely present
  int64_t row_offset_ = 0;
  std::vector<KeyColumn> keys_;  // in make_ctx's key order
  std::optional<Column> other_fields_;
  std::vector<bool> other_fields_kept_;  // per struct field of other_fields_
  std::vector<EntryColumn> entries_;
  const std::unordered_set<std::string>* kept_ = nullptr;
};

}  // namespace orvane
