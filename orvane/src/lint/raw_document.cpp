#include "lint/raw_document.h"

#include <array>
#include <cstdint>
#include <span>
#include <utility>

#include "lint/names.h"

namespace orvane::lint {
namespace {

// The members of each level of a record, as the reader knows them.
constexpr std::array<std::string_view, 14> kRecordMembers = {
    "id",       "name",    "enabled", "version",    "owner",           "type",           "emit_event",
    "start_ts", "stop_ts", "value",   "value_type", "parent_meg_name", "parent_hg_name", "experiment"};
constexpr std::array<std::string_view, 6> kInnerMembers = {
    "experiment_version", "variants", "shuffle_version", "bucket_val", "overrides", "targeting"};
constexpr std::array<std::string_view, 3> kVariantMembers = {"name", "range_start", "range_end"};
constexpr std::array<std::string_view, 3> kEqMembers = {"field", "value", "values"};
constexpr std::array<std::string_view, 2> kPairMembers = {"field", "value"};

void append_utf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

uint32_t hex4(std::string_view text, size_t at) {
  uint32_t value = 0;
  for (size_t i = at; i < at + 4 && i < text.size(); ++i) {
    const char c = text[i];
    value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return value;
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::vector<RawDocument::Node> scan() {
    std::vector<RawDocument::Node> nodes;
    // Containers being read, innermost last, and the member name waiting for its value.
    std::vector<size_t> open;
    std::optional<RawDocument::Member> pending;
    while (skip_blanks()) {
      const char c = text_[at_];
      if (c == ',' || c == ':') {
        advance();
        continue;
      }
      if (c == '}' || c == ']') {
        advance();
        if (!open.empty()) open.pop_back();
        continue;
      }
      if (c == '"' && !open.empty() && nodes[open.back()].object && !pending) {
        const TextPlace place = here();
        pending = RawDocument::Member{read_string(), place, 0};
        continue;
      }
      // A value: note it in its container, then open it or step over it.
      const size_t index = nodes.size();
      nodes.push_back(RawDocument::Node{c == '{', c == '[', here(), {}, {}});
      if (!open.empty()) {
        RawDocument::Node& parent = nodes[open.back()];
        if (parent.object && pending) {
          pending->value = index;
          parent.members.push_back(std::move(*pending));
          pending.reset();
        } else {
          parent.elements.push_back(index);
        }
      }
      if (c == '{' || c == '[') {
        advance();
        open.push_back(index);
      } else if (c == '"') {
        read_string();
      } else {
        while (at_ < text_.size() && !is_end_of_word(text_[at_])) advance();
      }
    }
    if (nodes.empty()) nodes.emplace_back();
    return nodes;
  }

 private:
  static bool is_end_of_word(char c) {
    return c == ',' || c == '}' || c == ']' || c == ' ' || c == '\t' || c == '\n' || c == '\r';
  }

  TextPlace here() const { return {line_, column_}; }

  void advance() {
    if (text_[at_] == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    ++at_;
  }

  bool skip_blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                  text_[at_] == '\n' || text_[at_] == '\r')) {
      advance();
    }
    return at_ < text_.size();
  }

  // Reads a string from its opening quote; the text with its escapes decoded.
  std::string read_string() {
    std::string out;
    advance();
    while (at_ < text_.size() && text_[at_] != '"') {
      if (text_[at_] != '\\') {
        out += text_[at_];
        advance();
        continue;
      }
      advance();
      if (at_ >= text_.size()) break;
      const char escape = text_[at_];
      advance();
      switch (escape) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t code = hex4(text_, at_);
          for (int i = 0; i < 4 && at_ < text_.size(); ++i) advance();
          // A high surrogate followed by \u and a low one is one code point.
          if (code >= 0xD800 && code < 0xDC00 && at_ + 1 < text_.size() && text_[at_] == '\\' &&
              text_[at_ + 1] == 'u') {
            const uint32_t low = hex4(text_, at_ + 2);
            for (int i = 0; i < 6 && at_ < text_.size(); ++i) advance();
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          append_utf8(out, code);
          break;
        }
        default: out += escape; break;  // \" \\ \/
      }
    }
    if (at_ < text_.size()) advance();  // the closing quote
    return out;
  }

  std::string_view text_;
  size_t at_ = 0;
  size_t line_ = 1;
  size_t column_ = 1;
};

// Walks the records of a scanned document against the members the reader knows.
class ShapeWalk {
 public:
  explicit ShapeWalk(const std::vector<RawDocument::Node>& nodes) : nodes_(nodes) {}

  std::vector<Finding> run() {
    const RawDocument::Node& document = nodes_[0];
    for (size_t i = 0; i < document.members.size(); ++i) {
      const RawDocument::Member& record = document.members[i];
      key_ = record.name;
      for (size_t j = i + 1; j < document.members.size(); ++j) {
        if (document.members[j].name != record.name) continue;
        out_.push_back(Finding{Code::DuplicateKey, Severity::Error, key_, std::nullopt, {key_},
                               record.place.line, record.place.column,
                               "the key \"" + key_ + "\" is given again at line " +
                                   std::to_string(document.members[j].place.line) +
                                   ": the later record replaces this one",
                               "give every record a key of its own"});
        break;
      }
      walk_record(record.value, {key_});
    }
    return std::move(out_);
  }

 private:
  void check_members(size_t node, std::span<const std::string_view> known, const MemberPath& path,
                     std::string_view where) {
    for (const RawDocument::Member& member : nodes_[node].members) {
      bool is_known = false;
      for (std::string_view name : known) is_known = is_known || name == member.name;
      if (is_known) continue;
      std::optional<std::string_view> guess = closest_name(member.name, known);
      MemberPath at = path;
      at.push_back(member.name);
      std::string hint = guess ? "did you mean " + ticked(*guess) + "? " : std::string();
      hint += guess ? "As written it is skipped, as if absent"
                    : "The engine skips it; the members here are " + joined(known);
      out_.push_back(Finding{Code::UnknownMember, guess ? Severity::Error : Severity::Warning,
                             key_, std::nullopt, std::move(at), member.place.line,
                             member.place.column,
                             ticked(member.name) + " is no member of " + std::string(where) +
                                 ": it is skipped",
                             std::move(hint)});
    }
  }

  static std::string joined(std::span<const std::string_view> names) {
    std::string out;
    for (std::string_view name : names) {
      if (!out.empty()) out += ", ";
      out += name;
    }
    return out;
  }

  const RawDocument::Member* member(size_t node, std::string_view name) const {
    const RawDocument::Member* found = nullptr;
    for (const RawDocument::Member& m : nodes_[node].members) {
      if (m.name == name) found = &m;  // the last one counts, as for the reader
    }
    return found;
  }

  void walk_record(size_t node, const MemberPath& path) {
    if (!nodes_[node].object) return;  // the array form has no names to misspell
    check_members(node, kRecordMembers, path, "a record");
    const RawDocument::Member* inner = member(node, "experiment");
    if (!inner || !nodes_[inner->value].object) return;
    MemberPath inner_path = path;
    inner_path.push_back("experiment");
    check_members(inner->value, kInnerMembers, inner_path, "experiment");
    if (const RawDocument::Member* variants = member(inner->value, "variants")) {
      const RawDocument::Node& list = nodes_[variants->value];
      for (size_t i = 0; i < list.elements.size(); ++i) {
        if (!nodes_[list.elements[i]].object) continue;
        MemberPath at = inner_path;
        at.push_back("variants");
        at.push_back(std::to_string(i));
        check_members(list.elements[i], kVariantMembers, at, "a variant");
      }
    }
    if (const RawDocument::Member* targeting = member(inner->value, "targeting")) {
      MemberPath at = inner_path;
      at.push_back("targeting");
      walk_tree(targeting->value, at);
    }
    if (const RawDocument::Member* overrides = member(inner->value, "overrides")) {
      const RawDocument::Node& list = nodes_[overrides->value];
      for (size_t i = 0; i < list.elements.size(); ++i) {
        for (const RawDocument::Member& entry : nodes_[list.elements[i]].members) {
          MemberPath at = inner_path;
          at.push_back("overrides");
          at.push_back(std::to_string(i));
          at.push_back(entry.name);
          walk_tree(entry.value, at);
        }
      }
    }
  }

  // A tree is an object of one member naming the node; its operands sit below it.
  void walk_tree(size_t root, const MemberPath& root_path) {
    std::vector<std::pair<size_t, MemberPath>> todo = {{root, root_path}};
    while (!todo.empty()) {
      auto [node, path] = std::move(todo.back());
      todo.pop_back();
      for (const RawDocument::Member& op : nodes_[node].members) {
        MemberPath at = path;
        at.push_back(op.name);
        const RawDocument::Node& operand = nodes_[op.value];
        if (op.name == "ALL" || op.name == "ANY") {
          for (size_t i = 0; i < operand.elements.size(); ++i) {
            MemberPath element = at;
            element.push_back(std::to_string(i));
            todo.emplace_back(operand.elements[i], std::move(element));
          }
        } else if (op.name == "NOT") {
          todo.emplace_back(op.value, std::move(at));
        } else if (operand.object) {
          const std::string where = op.name + " condition";
          if (op.name == "EQ") {
            check_members(op.value, kEqMembers, at, where);
          } else {
            check_members(op.value, kPairMembers, at, where);
          }
        }
      }
    }
  }

  const std::vector<RawDocument::Node>& nodes_;
  std::vector<Finding> out_;
  std::string key_;
};

}  // namespace

RawDocument::RawDocument(std::string_view text) : nodes_(Scanner(text).scan()) {}

std::optional<TextPlace> RawDocument::place(const MemberPath& path) const {
  if (path.empty()) return std::nullopt;
  size_t node = 0;
  TextPlace found;
  for (const std::string& step : path) {
    const Node& current = nodes_[node];
    if (current.object) {
      const Member* hit = nullptr;
      for (const Member& m : current.members) {
        if (m.name == step) hit = &m;
      }
      if (!hit) return std::nullopt;
      found = hit->place;
      node = hit->value;
    } else if (current.array) {
      size_t index = 0;
      for (char c : step) {
        if (c < '0' || c > '9') return std::nullopt;
        index = index * 10 + static_cast<size_t>(c - '0');
      }
      if (index >= current.elements.size()) return std::nullopt;
      node = current.elements[index];
      found = nodes_[node].place;
    } else {
      return std::nullopt;
    }
  }
  return found;
}

std::vector<Finding> RawDocument::shape_findings() const { return ShapeWalk(nodes_).run(); }

}  // namespace orvane::lint
