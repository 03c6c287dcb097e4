#pragma once
// A canonical text of read records for tests that compare whole documents: every member of
// every record, trees in prefix form, values as compact JSON with their kind, numbers in
// the shortest form that reads back to the same bits.

#include <charconv>
#include <string>
#include <type_traits>
#include <variant>

#include "config/experiment.h"

namespace orvane {

inline void append_number(std::string& out, double value) {
  char buffer[32];
  out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

inline void append_value(std::string& out, const Json& value) {
  out += value.dump();
  out += ':';
  out += value.type_name();
}

inline void append_field(std::string& out, const ContextField& field) {
  out += field.is_other() ? "other " : "fixed ";
  out += field.name();
}

inline void append_tree(std::string& out, const TargetingTree& tree) {
  out += '(';
  out += operator_name(tree);
  std::visit(
      [&](const auto& node) {
        using N = std::decay_t<decltype(node)>;
        if constexpr (std::is_same_v<N, AllNode> || std::is_same_v<N, AnyNode>) {
          for (const TargetingTree& child : node.children) append_tree(out, child);
        } else if constexpr (std::is_same_v<N, NotNode>) {
          append_tree(out, *node.child);
        } else if constexpr (std::is_same_v<N, EqNode>) {
          if (const auto* one = std::get_if<EqOne>(&node.eq)) {
            out += " one ";
            append_field(out, one->field);
            out += ' ';
            append_value(out, one->value);
          } else {
            const auto& many = std::get<EqMany>(node.eq);
            out += " many ";
            append_field(out, many.field);
            for (const Json& value : many.values) {
              out += ' ';
              append_value(out, value);
            }
          }
        } else if constexpr (std::is_same_v<N, NeNode>) {
          out += ' ';
          append_field(out, node.field);
          out += ' ';
          append_value(out, node.value);
        } else {
          out += ' ';
          append_field(out, node.field);
          out += ' ';
          append_number(out, node.value);
        }
      },
      tree.node);
  out += ')';
}

inline std::string records_text(const ExperimentConfig& config) {
  std::string out;
  for (const auto& [key, e] : config) {
    out += key + ": " + std::to_string(e.id) + " " + e.name + " " + (e.enabled ? "on" : "off") + " " +
           e.version + " " + e.owner + " " + std::string(experiment_type_text(e.type)) +
           (e.emit_event ? " emit " : " quiet ") + std::to_string(e.start_ts) + "-" +
           std::to_string(e.stop_ts) + " value=";
    if (e.value) append_value(out, *e.value);
    out += " value_type=" + std::string(e.value_type ? value_type_text(*e.value_type) : "-");
    out += " meg=" + e.parent_meg_name.value_or("-") + " hg=" + e.parent_hg_name.value_or("-");
    const InnerExperiment& x = e.experiment;
    out += " | " + std::to_string(x.experiment_version) + " " + std::to_string(x.shuffle_version);
    for (const Variant& v : x.variants) {
      out += " [" + v.name + " ";
      append_number(out, v.range_start);
      out += ' ';
      append_number(out, v.range_end);
      out += ']';
    }
    out += " bucket=";
    if (x.bucket_val) append_field(out, *x.bucket_val);
    out += " overrides=";
    if (x.overrides) {
      for (const OverrideMap& map : *x.overrides) {
        out += '{';
        for (const auto& [name, tree] : map) {
          out += name + '=';
          append_tree(out, tree);
        }
        out += '}';
      }
    }
    out += " targeting=";
    if (x.targeting) append_tree(out, *x.targeting);
    out += '\n';
  }
  return out;
}

}  // namespace orvane
