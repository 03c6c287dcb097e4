// orvane.check and orvane.diff: the lint layer's reports as plain Python data. The work
// runs without the interpreter lock, so a service checking a new configuration in the
// background does not stall its request threads.

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/config_reader.h"
#include "lint/check.h"
#include "lint/diff.h"
#include "registry.h"
#include "shared_classes.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {
namespace {

std::string_view bytes_view(const nb::bytes& bytes) { return {bytes.c_str(), bytes.size()}; }

nb::object optional_str(const std::optional<std::string>& text) {
  return text ? nb::object(str_to_python(*text)) : nb::none();
}

nb::object optional_size(std::optional<size_t> value) {
  return value ? nb::object(nb::int_(*value)) : nb::none();
}

nb::dict finding_to_python(const lint::Finding& finding) {
  nb::dict out;
  out["code"] = str_to_python(lint::code_name(finding.code));
  out["severity"] = str_to_python(lint::severity_name(finding.severity));
  out["key"] = optional_str(finding.key);
  out["feature"] = optional_str(finding.feature);
  out["line"] = optional_size(finding.line);
  out["column"] = optional_size(finding.column);
  out["message"] = str_to_python(finding.message);
  out["hint"] = str_to_python(finding.hint);
  return out;
}

nb::list buckets_to_python(const std::vector<uint16_t>& buckets) {
  nb::list out;
  for (uint16_t bucket : buckets) out.append(nb::int_(bucket));
  return out;
}

nb::list strings_to_python(const std::vector<std::string>& texts) {
  nb::list out;
  for (const std::string& text : texts) out.append(str_to_python(text));
  return out;
}

ExperimentConfig read_or_raise(std::string_view text, const char* name) {
  Result<ExperimentConfig, JsonError> config = read_experiment_config(text);
  if (!config) {
    throw nb::value_error(
        (std::string("argument '") + name + "': " + config.error().display()).c_str());
  }
  return std::move(config).value();
}

// Per feature that both versions have: the number of `ids` it decides differently.
std::vector<std::optional<uint64_t>> count_all_moved(
    const std::vector<lint::FeatureDiff>& diffs, const ExperimentConfig& old_config,
    const ExperimentConfig& new_config, const std::string& stages,
    const std::vector<std::string>& ids, const Context& base) {
  std::vector<std::optional<uint64_t>> moved(diffs.size());
  Result<Orvane, OrvaneInitError> old_engine = lint::engine_of(old_config, stages);
  Result<Orvane, OrvaneInitError> new_engine = lint::engine_of(new_config, stages);
  if (!old_engine || !new_engine) return moved;
  std::vector<std::string_view> views(ids.begin(), ids.end());
  for (size_t i = 0; i < diffs.size(); ++i) {
    const lint::FeatureDiff& d = diffs[i];
    if (d.change == lint::Change::Unchanged) {
      moved[i] = 0;  // the same record and groups decide alike for every request
    } else if (d.change == lint::Change::Changed) {
      moved[i] = lint::count_moved(*old_engine, *old_engine->features()[*d.old_index],
                                   *new_engine, *new_engine->features()[*d.new_index], base,
                                   views);
    }
  }
  return moved;
}

}  // namespace

void register_lint(nb::module_& m) {
  // The report over a configuration's text, or None when the text does not read (the
  // caller reports pyorvane.init's text for that).
  m.def(
      "check_text",
      [](nb::bytes text, std::optional<std::string> stages, int64_t now_ms) -> nb::object {
        Result<lint::CheckReport, JsonError> report = JsonError{};
        {
          nb::gil_scoped_release unlocked;
          report = lint::check_config(bytes_view(text),
                                      lint::CheckOptions{std::move(stages), now_ms});
        }
        if (!report) return nb::none();
        nb::list findings;
        for (const lint::Finding& finding : report->findings) {
          findings.append(finding_to_python(finding));
        }
        return nb::make_tuple(nb::int_(report->records), findings);
      },
      nb::arg("text"), nb::arg("stages").none(), nb::arg("now_ms"));

  // One dict per feature; with `ids`, "ids_moved" counts those decided differently, each
  // request being `ctx` (or an empty context) with the identifier in the bucketing field.
  m.def(
      "diff_texts",
      [](nb::bytes old_text, nb::bytes new_text, std::string stages,
         std::optional<std::vector<std::string>> ids, nb::handle ctx) {
        Context base = ctx.is_none() ? Context{} : context_argument(ctx, "ctx");
        std::vector<lint::FeatureDiff> diffs;
        std::vector<std::optional<uint64_t>> moved;
        ExperimentConfig old_config = read_or_raise(bytes_view(old_text), "old_text");
        ExperimentConfig new_config = read_or_raise(bytes_view(new_text), "new_text");
        {
          nb::gil_scoped_release unlocked;
          diffs = lint::diff_configs(old_config, new_config);
          moved = ids ? count_all_moved(diffs, old_config, new_config, stages, *ids, base)
                      : std::vector<std::optional<uint64_t>>(diffs.size());
        }
        nb::list out;
        for (size_t i = 0; i < diffs.size(); ++i) {
          const lint::FeatureDiff& d = diffs[i];
          nb::dict entry;
          entry["feature"] = str_to_python(d.feature);
          entry["change"] = str_to_python(lint::change_name(d.change));
          entry["fields"] = strings_to_python(d.fields);
          entry["reseeded"] = nb::bool_(d.reseeded);
          entry["reseeded_by"] = strings_to_python(d.reseeded_by);
          entry["moved_buckets"] =
              d.moved_buckets ? nb::object(buckets_to_python(*d.moved_buckets)) : nb::none();
          entry["added_buckets"] = buckets_to_python(d.added_buckets);
          entry["moves"] = strings_to_python(d.moves);
          entry["ids_moved"] = moved[i] ? nb::object(nb::int_(*moved[i])) : nb::none();
          out.append(entry);
        }
        return out;
      },
      nb::arg("old_text"), nb::arg("new_text"), nb::arg("stages"), nb::arg("ids").none(),
      nb::arg("ctx").none());
}

}  // namespace orvane
