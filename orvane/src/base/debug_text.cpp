#include "base/debug_text.h"

#include <string_view>

#include "base/quote.h"

namespace orvane {
namespace {

// Where a rendering goes: its counting form measures the text, so that the text can then
// be written into room reserved once, with no regrowth of a long string.
struct CountSink {
  size_t size = 0;
  void append(std::string_view text) { size += text.size(); }
  void append(size_t n, char) { size += n; }
  void append_quoted(std::string_view text) { size += quoted_size(text); }
};

struct StringSink {
  std::string& out;
  void append(std::string_view text) { out.append(text); }
  void append(size_t n, char c) { out.append(n, c); }
  void append_quoted(std::string_view text) { orvane::append_quoted(out, text); }
};

// A line break in the pretty layout, indented by four blanks per level.
template <class Sink>
void line_break(Sink& sink, size_t depth) {
  sink.append("\n");
  sink.append(4 * depth, ' ');
}

// Leaf texts are written as they stand; a line break inside one is indented like the
// layout's own, as a nested value is laid out inside a pretty record.
template <class Sink>
void leaf_text(Sink& sink, std::string_view text, bool pretty, size_t depth) {
  if (!pretty || depth == 0) return sink.append(text);
  for (size_t at = 0;;) {
    size_t next = text.find('\n', at);
    if (next == std::string_view::npos) return sink.append(text.substr(at));
    sink.append(text.substr(at, next - at));
    line_break(sink, depth);
    at = next + 1;
  }
}

}  // namespace

DebugNode DebugNode::leaf(std::string text) {
  DebugNode node;
  node.text_ = std::move(text);
  return node;
}

DebugNode DebugNode::string(std::string_view text) { return leaf(quoted_text(text)); }

DebugNode DebugNode::borrowed_string(std::string_view text) {
  DebugNode node;
  node.kind_ = Kind::Borrowed;
  node.borrowed_ = text;
  return node;
}

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

size_t DebugNode::rendered_size(bool pretty) const {
  CountSink count;
  write(count, pretty, 0);
  return count.size;
}

void DebugNode::render_into(std::string& out, bool pretty) const {
  out.reserve(out.size() + rendered_size(pretty));
  StringSink sink{out};
  write(sink, pretty, 0);
}

template <class Sink>
void DebugNode::write(Sink& sink, bool pretty, size_t depth) const {
  // Each kind is an opening text, a sequence of entries and a closing text; only the
  // separators differ between the one-line and the pretty layout.
  auto sequence = [&](std::string_view open, std::string_view close, size_t count,
                      auto&& entry) {
    sink.append(open);
    if (count == 0) return sink.append(close);
    if (pretty) {
      for (size_t i = 0; i < count; ++i) {
        line_break(sink, depth + 1);
        entry(i);
        sink.append(",");
      }
      line_break(sink, depth);
    } else {
      bool spaced = open == "{" && kind_ == Kind::Record;
      if (spaced) sink.append(" ");
      for (size_t i = 0; i < count; ++i) {
        if (i > 0) sink.append(", ");
        entry(i);
      }
      if (spaced) sink.append(" ");
    }
    sink.append(close);
  };

  switch (kind_) {
    case Kind::Leaf:
      return leaf_text(sink, text_, pretty, depth);
    case Kind::Borrowed:  // a quoted text has no line break to indent
      return sink.append_quoted(borrowed_);
    case Kind::Record:
      sink.append(text_);
      if (fields_.empty()) return;
      sink.append(" ");
      return sequence("{", "}", fields_.size(), [&](size_t i) {
        sink.append(fields_[i].first);
        sink.append(": ");
        fields_[i].second.write(sink, pretty, depth + 1);
      });
    case Kind::Tuple:
      sink.append(text_);
      if (items_.empty()) return;
      return sequence("(", ")", items_.size(),
                      [&](size_t i) { items_[i].write(sink, pretty, depth + 1); });
    case Kind::List:
      return sequence("[", "]", items_.size(),
                      [&](size_t i) { items_[i].write(sink, pretty, depth + 1); });
    case Kind::Map:
      return sequence("{", "}", entries_.size(), [&](size_t i) {
        entries_[i].first.write(sink, pretty, depth + 1);
        sink.append(": ");
        entries_[i].second.write(sink, pretty, depth + 1);
      });
  }
}

}  // namespace orvane
