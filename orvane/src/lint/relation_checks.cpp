// Relations between records: parent references resolve by top-level key, lookups by
// name take the first record of that name, and groups act through variant names. None of
// these is checked at load time, and each fails quietly.

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "lint/checks.h"
#include "lint/names.h"

namespace orvane::lint {
namespace {

constexpr std::string_view kHoldoutVariant = "holdout";

bool has_variant(const Experiment& record, std::string_view name) {
  for (const Variant& variant : record.experiment.variants) {
    if (variant.name == name) return true;
  }
  return false;
}

void check_parent(const Records& records, const std::string& key, const Experiment& record,
                  const std::optional<std::string>& parent, const char* member,
                  std::string_view effect, std::vector<Finding>& out) {
  if (!parent || records.by_key(*parent) != nullptr) return;
  std::string hint;
  if (const std::string* named = records.key_of_name(*parent)) {
    hint = "\"" + *parent + "\" is the name of the record under the key \"" + *named +
           "\"; parents are found by key, so write \"" + *named + "\"";
  } else if (std::optional<std::string_view> guess = closest_name(*parent, records.keys())) {
    hint = "did you mean \"" + std::string(*guess) + "\"? Without it " + std::string(effect) + ".";
  } else {
    hint = "write the key of an existing record: without it " + std::string(effect);
  }
  out.push_back(record_finding(Code::MissingParent, Severity::Error, key, record, {member},
                               std::string(member) + " \"" + *parent + "\" names no record key",
                               std::move(hint)));
}

}  // namespace

void check_relations(const Records& records, std::vector<Finding>& out) {
  const ExperimentConfig& config = records.config();
  std::unordered_map<std::string_view, size_t> first_by_name;
  std::unordered_map<uint32_t, size_t> first_by_id;
  std::unordered_map<std::string_view, size_t> holdout_members;
  for (size_t i = 0; i < config.size(); ++i) {
    const auto& [key, record] = config[i];

    auto [named, new_name] = first_by_name.emplace(record.name, i);
    if (!new_name) {
      const std::string& first = config[named->second].first;
      out.push_back(record_finding(
          Code::DuplicateName, Severity::Error, key, record, {"name"},
          "the name " + ticked(record.name) + " is also the name of the record \"" + first +
              "\"; choose uses \"" + first + "\", the first in the file",
          "give every record a name of its own: features are found by name"));
    }
    auto [same_id, new_id] = first_by_id.emplace(record.id, i);
    if (!new_id) {
      out.push_back(record_finding(
          Code::DuplicateId, Severity::Warning, key, record, {"id"},
          "id " + std::to_string(record.id) + " is also the id of \"" +
              config[same_id->second].first + "\"",
          "exposure events carry the id; analyses keyed by it would mix the two"));
    }

    // Dynamic configurations keep no groups, so their parent names mean nothing.
    if (record.type == ExperimentType::DynamicConfig) continue;
    check_parent(records, key, record, record.parent_hg_name, "parent_hg_name",
                 "no user is held out", out);
    check_parent(records, key, record, record.parent_meg_name, "parent_meg_name",
                 "the mutual exclusion is not applied", out);

    if (record.parent_hg_name && records.by_key(*record.parent_hg_name) != nullptr) {
      ++holdout_members[*record.parent_hg_name];
    }
    if (record.parent_meg_name) {
      const Experiment* group = records.by_key(*record.parent_meg_name);
      if (group != nullptr && !has_variant(*group, record.name)) {
        std::vector<std::string_view> names;
        for (const Variant& variant : group->experiment.variants) names.push_back(variant.name);
        std::string hint;
        if (std::optional<std::string_view> guess = closest_name(record.name, names)) {
          hint = "the group has " + ticked(*guess) + ": did you mean that name? ";
        }
        hint += hint.empty() ? "the group" : "The group";
        hint += " decides by naming a member in its variants; add a variant named \"" +
                record.name + "\" to \"" + *record.parent_meg_name + "\"";
        out.push_back(record_finding(
            Code::MutexMemberNotVariant, Severity::Error, key, record, {"parent_meg_name"},
            ticked(record.name) + " is in the mutex group \"" + *record.parent_meg_name +
                "\", which has no variant of that name, so it is never decided",
            std::move(hint)));
      }
    }
  }

  for (size_t i = 0; i < config.size(); ++i) {
    const auto& [key, record] = config[i];
    auto members = holdout_members.find(key);
    if (members == holdout_members.end() || has_variant(record, kHoldoutVariant)) continue;
    std::string hint = "users are held out by a variant named exactly \"holdout\"";
    for (const Variant& variant : record.experiment.variants) {
      if (closest_name(variant.name, std::vector<std::string_view>{kHoldoutVariant})) {
        hint = "rename " + ticked(variant.name) + " to \"holdout\": " + hint;
        break;
      }
    }
    const size_t count = members->second;
    out.push_back(record_finding(
        Code::HoldoutWithoutHoldoutVariant, Severity::Warning, key, record,
        {"experiment", "variants"},
        "is the holdout group of " + std::to_string(count) + (count == 1 ? " record" : " records") +
            " but has no variant named \"holdout\", so it holds nobody out",
        std::move(hint)));
  }
}

}  // namespace orvane::lint
