#include "context/context.h"

#include <charconv>

#include "base/debug_text.h"
#include "context/fixed_fields.h"

namespace orvane {
namespace {

// Texts are borrowed from the context: every caller renders the node while the context
// lives, and a many-megabyte identifier is then not copied once more just to be quoted.
DebugNode field_debug_node(const FixedFieldInfo& info, const Context& ctx) {
  std::optional<DebugNode> shown;
  switch (info.value) {
    case FieldValue::String:
      if (const auto& v = ctx.*info.text) shown = DebugNode::borrowed_string(*v);
      break;
    case FieldValue::Bool:
      if (const auto& v = ctx.*info.flag) shown = DebugNode::leaf(*v ? "true" : "false");
      break;
    case FieldValue::Int32:
      if (const auto& v = ctx.*info.int32) shown = DebugNode::leaf(std::to_string(*v));
      break;
    case FieldValue::Int64:
      if (const auto& v = ctx.*info.int64) shown = DebugNode::leaf(std::to_string(*v));
      break;
  }
  return DebugNode::optional(std::move(shown));
}

DebugNode context_debug_node(const Context& ctx) {
  std::vector<std::pair<std::string, DebugNode>> fields;
  fields.reserve(kFixedFieldCount + 1);
  for (FixedField field : kShownOrder) {
    const FixedFieldInfo& info = fixed_field_info(field);
    fields.emplace_back(std::string(info.name), field_debug_node(info, ctx));
  }
  std::optional<DebugNode> others;
  if (ctx.other_fields) {
    std::vector<std::pair<DebugNode, DebugNode>> entries;
    for (const auto& [key, value] : *ctx.other_fields) {
      entries.emplace_back(DebugNode::string(key), json_debug_node(value));
    }
    others = DebugNode::map(std::move(entries));
  }
  fields.emplace_back(std::string(kOtherFieldsName), DebugNode::optional(std::move(others)));
  return DebugNode::record("Context", std::move(fields));
}

}  // namespace

FieldView view_field(const ContextField& field, const Context& ctx) {
  if (field.is_other()) {
    if (!ctx.other_fields) return std::monostate{};
    auto it = ctx.other_fields->find(field.name());
    if (it == ctx.other_fields->end()) return std::monostate{};
    return &it->second;
  }
  return view_fixed_field(field.kind(), ctx);
}

std::optional<Json> get_value(const ContextField& field, const Context& ctx) {
  FieldView view = view_field(field, ctx);
  struct ToJson {
    std::optional<Json> operator()(std::monostate) const { return std::nullopt; }
    std::optional<Json> operator()(std::string_view s) const { return Json(std::string(s)); }
    std::optional<Json> operator()(bool b) const { return Json(b); }
    std::optional<Json> operator()(int64_t i) const {
      // Integers keep the JSON value's convention: unsigned when non-negative.
      if (i >= 0) return Json(static_cast<uint64_t>(i));
      return Json(i);
    }
    std::optional<Json> operator()(const Json* j) const { return *j; }
  };
  return std::visit(ToJson{}, view);
}

void append_identifier_text(std::string& out, const FieldView& value) {
  struct Append {
    std::string& out;
    void operator()(std::monostate) const {}
    void operator()(std::string_view s) const { out.append(s); }
    void operator()(bool b) const { out += b ? "true" : "false"; }
    void operator()(int64_t i) const {
      char buffer[24];
      auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, i);
      (void)ec;
      out.append(buffer, end);
    }
    void operator()(const Json* j) const {
      if (j->is_string()) {
        out += j->get_ref<const std::string&>();
      } else {
        append_json_compact(out, *j);
      }
    }
  };
  std::visit(Append{out}, value);
}

std::string context_debug(const Context& ctx) { return context_debug_node(ctx).render(false); }

std::string context_debug_pretty(const Context& ctx) {
  return context_debug_node(ctx).render(true);
}

void append_context_debug_pretty(std::string& out, const Context& ctx) {
  context_debug_node(ctx).render_into(out, true);
}

}  // namespace orvane
