#include "lint/diff.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>

#include "base/json.h"
#include "base/overloaded.h"
#include "engine/internal.h"
#include "engine/loader.h"
#include "lint/buckets.h"
#include "lint/identifiers.h"
#include "lint/names.h"
#include "lint/tree_text.h"

namespace orvane::lint {
namespace {

// Deeper than any document nests, so two trees compare whole.
constexpr int kWholeTree = 1 << 10;

std::string optional_text(const std::optional<std::string>& text) {
  return text ? "\"" + *text + "\"" : "-";
}

std::string variants_text(const std::vector<Variant>& variants) {
  std::string out;
  for (const Variant& v : variants) {
    out += v.name + "[" + range_text(v.range_start) + "," + range_text(v.range_end) + ")\n";
  }
  return out;
}

std::string overrides_text(const std::optional<std::vector<OverrideMap>>& overrides) {
  if (!overrides) return "-";
  std::string out;
  for (const OverrideMap& map : *overrides) {
    out += "{";
    for (const auto& [variant, tree] : map) out += variant + ":" + tree_text(tree, kWholeTree) + ";";
    out += "}";
  }
  return out;
}

// Each member of a record in a form that is equal exactly when the engine sees the
// member as equal, in the order of the format.
std::vector<std::pair<const char*, std::string>> member_texts(const Experiment& e) {
  const InnerExperiment& inner = e.experiment;
  return {
      {"id", std::to_string(e.id)},
      {"name", e.name},
      {"enabled", e.enabled ? "true" : "false"},
      {"version", e.version},
      {"owner", e.owner},
      {"type", std::string(experiment_type_text(e.type))},
      {"emit_event", e.emit_event ? "true" : "false"},
      {"start_ts", std::to_string(e.start_ts)},
      {"stop_ts", std::to_string(e.stop_ts)},
      {"value", e.value ? json_compact(*e.value) : "-"},
      {"value_type", e.value_type ? std::string(value_type_text(*e.value_type)) : "-"},
      {"parent_meg_name", optional_text(e.parent_meg_name)},
      {"parent_hg_name", optional_text(e.parent_hg_name)},
      {"experiment_version", std::to_string(inner.experiment_version)},
      {"variants", variants_text(inner.variants)},
      {"shuffle_version", std::to_string(inner.shuffle_version)},
      {"bucket_val", inner.bucket_val ? "\"" + std::string(inner.bucket_val->name()) + "\"" : "-"},
      {"overrides", overrides_text(inner.overrides)},
      {"targeting", inner.targeting ? tree_text(*inner.targeting, kWholeTree) : "-"},
  };
}

std::vector<std::string> changed_members(const Experiment& a, const Experiment& b) {
  std::vector<std::string> out;
  auto old_texts = member_texts(a);
  auto new_texts = member_texts(b);
  for (size_t i = 0; i < old_texts.size(); ++i) {
    if (old_texts[i].second != new_texts[i].second) out.emplace_back(old_texts[i].first);
  }
  return out;
}

bool has(const std::vector<std::string>& fields, std::string_view name) {
  for (const std::string& field : fields) {
    if (field == name) return true;
  }
  return false;
}

class Index {
 public:
  explicit Index(const ExperimentConfig& config) : config_(config) {
    for (size_t i = 0; i < config.size(); ++i) {
      by_key_.emplace(config[i].first, i);
      by_name_.emplace(config[i].second.name, i);
    }
  }
  std::optional<size_t> key(std::string_view key) const {
    auto it = by_key_.find(key);
    return it == by_key_.end() ? std::nullopt : std::optional<size_t>(it->second);
  }
  std::optional<size_t> name(std::string_view name) const {
    auto it = by_name_.find(name);
    return it == by_name_.end() ? std::nullopt : std::optional<size_t>(it->second);
  }
  const ExperimentConfig& config() const { return config_; }

 private:
  const ExperimentConfig& config_;
  std::unordered_map<std::string_view, size_t> by_key_;
  std::unordered_map<std::string_view, size_t> by_name_;  // first of each name
};

// Whether the group under `key` decides differently in the new configuration: its record
// changed, or one of its own groups did, to any depth. Chains of groups are walked with
// an explicit stack and each group is judged once.
class GroupChanges {
 public:
  GroupChanges(const Index& old_index, const Index& new_index)
      : old_(old_index), new_(new_index) {}

  bool changed(const std::string& key) {
    std::vector<std::string_view> stack{key};
    while (!stack.empty()) {
      std::string_view top = stack.back();
      if (judged_.count(top)) {
        stack.pop_back();
        continue;
      }
      std::optional<size_t> before = old_.key(top);
      std::optional<size_t> after = new_.key(top);
      if (!before || !after) {
        judged_[top] = before.has_value() != after.has_value();
        stack.pop_back();
        continue;
      }
      const Experiment& a = old_.config()[*before].second;
      const Experiment& b = new_.config()[*after].second;
      if (!changed_members(a, b).empty()) {
        judged_[top] = true;
        stack.pop_back();
        continue;
      }
      // Unchanged itself, so its parents are named alike in both.
      std::vector<std::string_view> waiting;
      bool any_changed = false;
      if (b.type != ExperimentType::DynamicConfig) {
        for (const std::optional<std::string>* parent : {&b.parent_hg_name, &b.parent_meg_name}) {
          if (!*parent) continue;
          auto found = judged_.find(**parent);
          if (found == judged_.end()) {
            waiting.push_back(**parent);
          } else {
            any_changed = any_changed || found->second;
          }
        }
      }
      // Parents are judged first. A cycle does not load; met here anyway, its records are
      // judged by what is known rather than walked again.
      if (!waiting.empty() && expanded_.insert(top).second) {
        for (std::string_view parent : waiting) stack.push_back(parent);
        continue;
      }
      judged_[top] = any_changed;
      stack.pop_back();
    }
    return judged_[key];
  }

 private:
  const Index& old_;
  const Index& new_;
  std::unordered_map<std::string_view, bool> judged_;
  std::unordered_set<std::string_view> expanded_;
};

bool bucketed(const Experiment& e) {
  return e.type != ExperimentType::DynamicConfig && e.experiment.bucket_val.has_value();
}

std::string tree_change(const std::optional<TargetingTree>& before,
                        const std::optional<TargetingTree>& after) {
  if (!before) return "targeting added: users who do not match " + tree_text(*after) + " lose it";
  if (!after) return "targeting removed: users who did not match " + tree_text(*before) + " get it";
  // Lists of values of one field, the common edit, are told by the values added and
  // removed.
  const auto* a = std::get_if<EqNode>(&before->node);
  const auto* b = std::get_if<EqNode>(&after->node);
  if (a && b) {
    const auto* many_a = std::get_if<EqMany>(&a->eq);
    const auto* many_b = std::get_if<EqMany>(&b->eq);
    if (many_a && many_b && many_a->field == many_b->field) {
      auto missing_from = [](const std::vector<Json>& values, const std::vector<Json>& other) {
        std::vector<Json> out;
        for (const Json& v : values) {
          bool found = false;
          for (const Json& o : other) found = found || o == v;
          if (!found) out.push_back(v);
        }
        return out;
      };
      std::string field(many_a->field.name());
      std::string out = "targeting: moves users who match ";
      std::vector<Json> added = missing_from(many_b->values, many_a->values);
      std::vector<Json> removed = missing_from(many_a->values, many_b->values);
      if (!added.empty()) out += field + " EQ " + json_compact(Json(added)) + " (now in)";
      if (!added.empty() && !removed.empty()) out += " or ";
      if (!removed.empty()) out += field + " EQ " + json_compact(Json(removed)) + " (now out)";
      return out;
    }
  }
  return "targeting: moves users who match one of " + tree_text(*before) + " (before) and " +
         tree_text(*after) + " (now) but not the other";
}

std::string overrides_change(const Experiment& a, const Experiment& b) {
  // Entries are told by variant: those whose trees appeared, went or changed.
  std::vector<std::pair<std::string, std::string>> before, after;
  auto collect = [](const Experiment& e, auto& out) {
    if (!e.experiment.overrides) return;
    for (const OverrideMap& map : *e.experiment.overrides) {
      for (const auto& [variant, tree] : map) out.emplace_back(variant, tree_text(tree));
    }
  };
  collect(a, before);
  collect(b, after);
  std::vector<std::string> parts;
  for (const auto& entry : after) {
    bool same = false;
    for (const auto& old_entry : before) same = same || old_entry == entry;
    if (!same) parts.push_back(entry.second + " (now " + entry.first + ")");
  }
  for (const auto& entry : before) {
    bool same = false;
    for (const auto& new_entry : after) same = same || new_entry == entry;
    if (!same) parts.push_back(entry.second + " (was " + entry.first + ")");
  }
  if (parts.empty()) return "overrides: the same entries in another order, which decides which wins";
  std::string out = "overrides: moves users who match ";
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "; " : "") + parts[i];
  return out;
}

void describe(FeatureDiff& diff, const Experiment& a, const Experiment& b, GroupChanges& groups) {
  diff.fields = changed_members(a, b);
  const bool both_bucketed = bucketed(a) && bucketed(b);
  for (const char* seed_part : {"id", "name", "shuffle_version", "bucket_val"}) {
    if (both_bucketed && has(diff.fields, seed_part)) diff.reseeded_by.emplace_back(seed_part);
  }
  diff.reseeded = !diff.reseeded_by.empty();
  if (both_bucketed && !diff.reseeded) {
    const BucketVariants before = bucket_variants(a.experiment.variants);
    const BucketVariants after = bucket_variants(b.experiment.variants);
    std::vector<uint16_t> moved;
    for (uint16_t bucket = 0; bucket < kBucketCount; ++bucket) {
      const bool had = before[bucket] != kNoVariant;
      const bool gets = after[bucket] != kNoVariant;
      if (had && (!gets || a.experiment.variants[before[bucket]].name !=
                               b.experiment.variants[after[bucket]].name)) {
        moved.push_back(bucket);
      } else if (!had && gets) {
        diff.added_buckets.push_back(bucket);
      }
    }
    diff.moved_buckets = std::move(moved);
  }

  if (has(diff.fields, "enabled")) {
    diff.moves.emplace_back(b.enabled ? "enabled: users now get decisions (with darkmode in the chain)"
                                      : "enabled: every user loses the feature (with darkmode in the chain)");
  }
  if (b.type == ExperimentType::DynamicConfig && has(diff.fields, "value")) {
    diff.moves.push_back("value: every user the configuration decides for now gets " +
                         (b.value ? json_compact(*b.value) : std::string("no value")));
  }
  if (has(diff.fields, "targeting")) diff.moves.push_back(tree_change(a.experiment.targeting, b.experiment.targeting));
  if (has(diff.fields, "overrides")) diff.moves.push_back(overrides_change(a, b));
  const bool dynamic = b.type == ExperimentType::DynamicConfig;
  auto group = [&](const char* member, const char* field, const char* what,
                   const std::optional<std::string>& before, const std::optional<std::string>& after) {
    if (dynamic) return;
    if (has(diff.fields, member)) {
      diff.moves.push_back(std::string(what) + ": moves users whom " + optional_text(before) +
                           " or " + optional_text(after) + " (now) decide for");
    } else if (after && groups.changed(*after)) {
      diff.fields.emplace_back(field);
      diff.moves.push_back(std::string(what) + " \"" + *after +
                           "\" changed: moves users whom it now decides differently for");
    }
  };
  group("parent_hg_name", "holdout", "holdout group", a.parent_hg_name, b.parent_hg_name);
  group("parent_meg_name", "mutex_group", "mutex group", a.parent_meg_name, b.parent_meg_name);
  diff.change = diff.fields.empty() ? Change::Unchanged : Change::Changed;
}

}  // namespace

std::string_view change_name(Change change) {
  switch (change) {
    case Change::Added: return "added";
    case Change::Removed: return "removed";
    case Change::Changed: return "changed";
    case Change::Unchanged: return "unchanged";
  }
  return "";  // unreachable: the switch covers every Change
}

std::vector<FeatureDiff> diff_configs(const ExperimentConfig& old_config,
                                      const ExperimentConfig& new_config) {
  const Index old_index(old_config);
  const Index new_index(new_config);
  std::vector<std::optional<size_t>> partner(new_config.size());
  std::vector<bool> paired(old_config.size(), false);
  for (size_t i = 0; i < new_config.size(); ++i) {
    partner[i] = old_index.key(new_config[i].first);
    if (partner[i]) paired[*partner[i]] = true;
  }
  // A record moved to another key keeps its name.
  for (size_t i = 0; i < new_config.size(); ++i) {
    if (partner[i]) continue;
    std::optional<size_t> same_name = old_index.name(new_config[i].second.name);
    if (same_name && !paired[*same_name] && !new_index.key(old_config[*same_name].first)) {
      partner[i] = same_name;
      paired[*same_name] = true;
    }
  }

  GroupChanges groups(old_index, new_index);
  std::vector<FeatureDiff> out;
  for (size_t i = 0; i < new_config.size(); ++i) {
    FeatureDiff diff;
    diff.feature = new_config[i].second.name;
    diff.new_index = i;
    diff.old_index = partner[i];
    if (partner[i]) {
      describe(diff, old_config[*partner[i]].second, new_config[i].second, groups);
    } else {
      diff.change = Change::Added;
    }
    out.push_back(std::move(diff));
  }
  for (size_t i = 0; i < old_config.size(); ++i) {
    if (paired[i]) continue;
    FeatureDiff diff;
    diff.feature = old_config[i].second.name;
    diff.old_index = i;
    diff.change = Change::Removed;
    out.push_back(std::move(diff));
  }
  return out;
}

namespace {

// Two runs decide alike when they give the same error text, or both no decision, or
// decisions with the same variant and value.
bool same_outcome(const InternalResult& a, const InternalResult& b) {
  if (!a || !b) return !a && !b && a.error().display() == b.error().display();
  if (!*a || !*b) return !*a && !*b;
  return (*a)->variant_name == (*b)->variant_name && (*a)->value == (*b)->value;
}

}  // namespace

Result<Orvane, OrvaneInitError> engine_of(ExperimentConfig config, std::string_view stages) {
  Result<FeatureList, OrvaneInitError> features = experiment_config_to_features(std::move(config));
  if (!features) return std::move(features).error();
  return init(stages, std::move(features).value());
}

uint64_t count_moved(const Orvane& old_engine, const Feature& old_feature,
                     const Orvane& new_engine, const Feature& new_feature, const Context& base,
                     std::span<const std::string_view> identifiers) {
  const ContextField field = identifier_field(new_feature);
  Context ctx = base;
  uint64_t moved = 0;
  for (std::string_view identifier : identifiers) {
    // An identifier the field cannot hold leaves the field as `base` has it, for both.
    if (set_identifier(ctx, field, identifier)) ctx = base;
    if (!same_outcome(decide_internal(old_engine, old_feature, ctx),
                      decide_internal(new_engine, new_feature, ctx))) {
      ++moved;
    }
  }
  return moved;
}

}  // namespace orvane::lint
