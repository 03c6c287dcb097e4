#pragma once
// Debug texts in one layout for every record the system shows through inspect(): a tree of
// records, tuples, lists and maps rendered on one line ("Name { a: 1, b: 2 }") or pretty,
// one field per line indented by four blanks ("Name {\n    a: 1,\n}").

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane {

class DebugNode {
 public:
  enum class Kind { Leaf, Borrowed, Record, Tuple, List, Map };

  // Text printed as it stands (a number, true, None, an already quoted string).
  static DebugNode leaf(std::string text);
  // A string shown in double quotes with the quoted-form escapes.
  static DebugNode string(std::string_view text);
  // The same, quoted only as it is rendered, so the node holds no copy of a long text;
  // `text` must outlive the node.
  static DebugNode borrowed_string(std::string_view text);
  // A record: "Name { field: value, ... }"; with no fields just "Name".
  static DebugNode record(std::string name, std::vector<std::pair<std::string, DebugNode>> fields);
  // A tuple alternative: "Name(value)"; with no items just "Name".
  static DebugNode tuple(std::string name, std::vector<DebugNode> items);
  static DebugNode list(std::vector<DebugNode> items);
  static DebugNode map(std::vector<std::pair<DebugNode, DebugNode>> entries);
  // None, or Some(value).
  static DebugNode optional(std::optional<DebugNode> value);

  std::string render(bool pretty = false) const;
  // Appends the rendering to `out`, so a long text can be written piece by piece.
  void render_into(std::string& out, bool pretty = false) const;
  // The length of the rendering, to reserve room for a text written piece by piece.
  size_t rendered_size(bool pretty = false) const;

 private:
  template <class Sink>
  void write(Sink& sink, bool pretty, size_t depth) const;

  Kind kind_ = Kind::Leaf;
  std::string text_;  // leaf text, or the record / tuple name
  std::string_view borrowed_;  // the unquoted text of a Borrowed node
  std::vector<std::pair<std::string, DebugNode>> fields_;
  std::vector<DebugNode> items_;
  std::vector<std::pair<DebugNode, DebugNode>> entries_;
};

}  // namespace orvane
