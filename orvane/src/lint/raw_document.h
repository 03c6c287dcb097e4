#pragma once
// The configuration text as written: every object member and array element with its line
// and column, which the records read from it no longer carry. Findings are placed with
// it, and the members the reader skips without a word (misspelt or unknown names) and
// keys given twice are found in it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lint/finding.h"

namespace orvane::lint {

// 1-based line and column of a member's name (its opening quote) or an element's first byte.
struct TextPlace {
  size_t line = 1;
  size_t column = 1;
};

class RawDocument {
 public:
  // Scans `text`, which must be a JSON document the reader accepted. Keeps no pointer
  // into it.
  explicit RawDocument(std::string_view text);

  // Where the member or element at `path` is written; for a name given twice, the last.
  std::optional<TextPlace> place(const MemberPath& path) const;

  // Members the format does not have, at every level of the records (record, inner
  // record, variant, targeting tree), and top-level keys given twice. Their `feature` is
  // left for the caller, who has the records.
  std::vector<Finding> shape_findings() const;

  struct Member {
    std::string name;
    TextPlace place;
    size_t value;  // node index
  };
  struct Node {
    bool object = false;
    bool array = false;
    TextPlace place;
    std::vector<Member> members;   // objects
    std::vector<size_t> elements;  // arrays
  };

 private:
  std::vector<Node> nodes_;  // nodes_[0] is the document
};

}  // namespace orvane::lint
