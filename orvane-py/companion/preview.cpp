// orvane.preview: one feature decided for many identifiers, counted natively without the
// interpreter lock. The Python side calls these a slice at a time, to draw its progress
// bar between slices, and adds the counts up.

#include "lint/preview.h"

#include <nanobind/nanobind.h>

#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "registry.h"
#include "shared_classes.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {
namespace {

const Feature& feature_argument(const Orvane& engine, nb::handle name) {
  Result<const Feature*, OrvaneError> found =
      chosen_feature(engine, str_argument(name.ptr(), "feature_name"), std::nullopt);
  if (!found) throw nb::value_error(found.error().display().c_str());
  return **found;
}

nb::list counts_to_python(const std::vector<lint::NamedCount>& counts) {
  nb::list out;
  for (const lint::NamedCount& entry : counts) {
    out.append(nb::make_tuple(str_to_python(entry.name), nb::int_(entry.count)));
  }
  return out;
}

nb::list numbers_to_python(const std::vector<uint64_t>& numbers) {
  nb::list out;
  for (uint64_t n : numbers) out.append(nb::int_(n));
  return out;
}

nb::dict tally_to_python(const lint::PreviewTally& tally) {
  nb::dict out;
  out["total"] = nb::int_(tally.total);
  out["variants"] = counts_to_python(tally.variants);
  out["without_variant"] = nb::int_(tally.without_variant);
  nb::list stops;
  for (const lint::StopCount& stop : tally.no_decision) {
    stops.append(nb::make_tuple(stop.stage.empty() ? nb::object(nb::none())
                                                   : nb::object(str_to_python(stop.stage)),
                                str_to_python(stop.reason), nb::int_(stop.count)));
  }
  out["no_decision"] = stops;
  out["errors"] = counts_to_python(tally.errors);
  out["bucketed"] = numbers_to_python(tally.bucketed);
  return out;
}

// The lines of `text`: without their line ends, blank ones left out.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t\f\v") != std::string_view::npos) lines.push_back(line);
  }
  return lines;
}

}  // namespace

void register_preview(nb::module_& m) {
  // The buckets each variant's range holds, the last entry those none holds.
  m.def(
      "preview_ranges",
      [](nb::handle engine, nb::handle feature_name) {
        const Feature& feature = feature_argument(engine_argument(engine, "engine"), feature_name);
        nb::list names;
        if (feature.variant_set) {
          for (const Variant& v : feature.variant_set->variants) names.append(str_to_python(v.name));
        }
        return nb::make_tuple(names, numbers_to_python(lint::range_buckets(feature)));
      },
      nb::arg("engine").none(), nb::arg("feature_name").none());

  // Counts for the generated identifiers first .. last - 1.
  m.def(
      "preview_generated",
      [](nb::handle engine, nb::handle feature_name, nb::handle ctx, uint64_t first,
         uint64_t last) {
        const Orvane& loaded = engine_argument(engine, "engine");
        const Feature& feature = feature_argument(loaded, feature_name);
        const Context& base = context_argument(ctx, "ctx");
        lint::PreviewTally tally;
        {
          nb::gil_scoped_release unlocked;
          lint::tally_generated(loaded, feature, base, first, last, tally);
        }
        return tally_to_python(tally);
      },
      nb::arg("engine").none(), nb::arg("feature_name").none(), nb::arg("ctx").none(),
      nb::arg("first"), nb::arg("last"));

  // Counts for the identifiers of `text`, one a line.
  m.def(
      "preview_lines",
      [](nb::handle engine, nb::handle feature_name, nb::handle ctx, nb::bytes text) {
        const Orvane& loaded = engine_argument(engine, "engine");
        const Feature& feature = feature_argument(loaded, feature_name);
        const Context& base = context_argument(ctx, "ctx");
        lint::PreviewTally tally;
        {
          nb::gil_scoped_release unlocked;
          lint::tally_identifiers(loaded, feature, base,
                                  lines_of(std::string_view(text.c_str(), text.size())), tally);
        }
        return tally_to_python(tally);
      },
      nb::arg("engine").none(), nb::arg("feature_name").none(), nb::arg("ctx").none(),
      nb::arg("text"));
}

}  // namespace orvane
