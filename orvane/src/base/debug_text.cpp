#include "base/debug_text.h"

#include "base/quote.h"

namespace orvane {
namespace {

// Appends `text` with every line after the first indented by four more blanks, the way a
// nested value is laid out inside a pretty record.
void append_indented(std::string& out, const std::string& text) {
  for (char c : text) {
    out += c;
    if (c == '\n') out += "    ";
  }
}

}  // namespace

DebugNode DebugNode::leaf(std::string text) {
  DebugNode node;
  node.text_ = std::move(text);
  return node;
}

DebugNode DebugNode::string(std::string_view text) { return leaf(quoted_text(text)); }

DebugNode DebugNode::record(std::string name,
                            std::vector<std::pair<std::string, DebugNode>> fields) {
  DebugNode node;
  node.kind_ = Kind::Record;
  node.text_ = std::move(name);
  node.fields_ = std::move(fields);
  return node;
}

DebugNode DebugNode::tuple(std::string name, std::vector<DebugNode> items) {
  DebugNode node;
  node.kind_ = Kind::Tuple;
  node.text_ = std::move(name);
  node.items_ = std::move(items);
  return node;
}

DebugNode DebugNode::list(std::vector<DebugNode> items) {
  DebugNode node;
  node.kind_ = Kind::List;
  node.items_ = std::move(items);
  return node;
}

DebugNode DebugNode::map(std::vector<std::pair<DebugNode, DebugNode>> entries) {
  DebugNode node;
  node.kind_ = Kind::Map;
  node.entries_ = std::move(entries);
  return node;
}

DebugNode DebugNode::optional(std::optional<DebugNode> value) {
  if (!value) return leaf("None");
  std::vector<DebugNode> items;
  items.push_back(std::move(*value));
  return tuple("Some", std::move(items));
}

std::string DebugNode::render(bool pretty) const {
  std::string out;
  render_into(out, pretty);
  return out;
}

void DebugNode::render_into(std::string& out, bool pretty) const {
  // Each kind is an opening text, a sequence of entries and a closing text; only the
  // separators differ between the one-line and the pretty layout.
  auto sequence = [&](const char* open, const char* close, size_t count, auto&& entry) {
    out += open;
    if (count == 0) {
      out += close;
      return;
    }
    if (pretty) {
      for (size_t i = 0; i < count; ++i) {
        std::string item;
        entry(item, i);
        out += "\n    ";
        append_indented(out, item);
        out += ',';
      }
      out += '\n';
    } else {
      bool spaced = open[0] != '\0' && open[std::char_traits<char>::length(open) - 1] == '{' &&
                    kind_ == Kind::Record;
      if (spaced) out += ' ';
      for (size_t i = 0; i < count; ++i) {
        if (i > 0) out += ", ";
        entry(out, i);
      }
      if (spaced) out += ' ';
    }
    out += close;
  };

  switch (kind_) {
    case Kind::Leaf:
      out += text_;
      return;
    case Kind::Record:
      out += text_;
      if (fields_.empty()) return;
      out += ' ';
      sequence("{", "}", fields_.size(), [&](std::string& o, size_t i) {
        o += fields_[i].first;
        o += ": ";
        fields_[i].second.render_into(o, pretty);
      });
      return;
    case Kind::Tuple:
      out += text_;
      if (items_.empty()) return;
      sequence("(", ")", items_.size(),
               [&](std::string& o, size_t i) { items_[i].render_into(o, pretty); });
      return;
    case Kind::List:
      sequence("[", "]", items_.size(),
               [&](std::string& o, size_t i) { items_[i].render_into(o, pretty); });
      return;
    case Kind::Map:
      sequence("{", "}", entries_.size(), [&](std::string& o, size_t i) {
        entries_[i].first.render_into(o, pretty);
        o += ": ";
        entries_[i].second.render_into(o, pretty);
      });
      return;
  }
}

}  // namespace orvane
