// orvane.report: every feature of an engine in its Python form, for drawing. Each variant
// set also carries the runs of buckets its ranges hold, found by the bucketing stage's own
// range test, so a bar in the report shows exactly who gets what.

#include <nanobind/nanobind.h>

#include <utility>
#include <vector>

#include "lint/buckets.h"
#include "registry.h"
#include "shared_classes.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {
namespace {

// [(first, stop, variant index or -1 where no range holds the buckets), ...], covering
// the buckets 0 to 999 in order.
nb::list bucket_runs(const std::vector<Variant>& variants) {
  const lint::BucketVariants owner = lint::bucket_variants(variants);
  nb::list runs;
  size_t first = 0;
  for (size_t b = 1; b <= lint::kBucketCount; ++b) {
    if (b < lint::kBucketCount && owner[b] == owner[first]) continue;
    runs.append(nb::make_tuple(first, b, owner[first]));
    first = b;
  }
  return runs;
}

// Adds "bucket_runs" to the variant set of `form` and of every group above it. A list of
// our own instead of recursion, as chains of groups may be deeper than the stack.
void add_bucket_runs(const Feature& root, nb::dict form) {
  std::vector<std::pair<const Feature*, nb::dict>> pending{{&root, form}};
  while (!pending.empty()) {
    auto [feature, dict] = std::move(pending.back());
    pending.pop_back();
    if (!feature->variant_set) continue;
    const VariantSet& set = *feature->variant_set;
    nb::dict set_form = nb::borrow<nb::dict>(dict["variant_set"]);
    set_form["bucket_runs"] = bucket_runs(set.variants);
    if (set.holdout) {
      pending.emplace_back(set.holdout.get(), nb::borrow<nb::dict>(set_form["holdout"]));
    }
    if (set.mutex_group) {
      pending.emplace_back(set.mutex_group.get(), nb::borrow<nb::dict>(set_form["mutex_group"]));
    }
  }
}

}  // namespace

void register_report(nb::module_& m) {
  m.def(
      "report_features",
      [](nb::handle engine) {
        const Orvane& loaded = engine_argument(engine, "engine");
        nb::list out;
        for (const auto& feature : loaded.features()) {
          nb::dict form = feature_to_python(*feature);
          add_bucket_runs(*feature, form);
          out.append(form);
        }
        return out;
      },
      nb::arg("engine").none());
}

}  // namespace orvane
