// Bucket ranges as the bucketing stage reads them: the first variant whose range holds a
// bucket's fraction gets the bucket. Every share here is counted over the 1,000 buckets
// with the stage's own test, never estimated from the range ends.

#include <string>
#include <utility>
#include <vector>

#include "lint/buckets.h"
#include "lint/checks.h"
#include "lint/names.h"

namespace orvane::lint {
namespace {

MemberPath variant_path(size_t index, const char* member) {
  MemberPath path{"experiment", "variants", std::to_string(index)};
  if (member != nullptr) path.emplace_back(member);
  return path;
}

std::string range_of(const Variant& variant) {
  return ticked(variant.name) + " [" + range_text(variant.range_start) + ", " +
         range_text(variant.range_end) + ")";
}

bool within_unit(float value) { return value >= 0.0f && value <= 1.0f; }

// The first problem of a range's ends, if any.
std::optional<Finding> out_of_bounds(const std::string& key, const Experiment& record,
                                     size_t index) {
  const Variant& variant = record.experiment.variants[index];
  const char* member = nullptr;
  std::string why;
  if (!within_unit(variant.range_start)) {
    member = "range_start";
    why = "starts outside [0, 1]";
  } else if (!within_unit(variant.range_end)) {
    member = "range_end";
    why = "ends outside [0, 1]";
  } else if (variant.range_start > variant.range_end) {
    member = "range_start";
    why = "starts after it ends";
  } else {
    return std::nullopt;
  }
  return record_finding(
      Code::RangeOutOfBounds, Severity::Error, key, record, variant_path(index, member),
      range_of(variant) + " " + why,
      "ranges are shares of users from 0 to 1 with the start first: 0.5 is half of "
      "them (not 50 or 500)");
}

}  // namespace

void check_ranges(const std::string& key, const Experiment& record, bool holdout_group,
                  std::vector<Finding>& out) {
  const std::vector<Variant>& variants = record.experiment.variants;
  std::vector<std::vector<uint16_t>> held(variants.size());
  for (size_t i = 0; i < variants.size(); ++i) {
    for (uint16_t bucket = 0; bucket < kBucketCount; ++bucket) {
      if (range_holds(variants[i], bucket)) held[i].push_back(bucket);
    }
  }

  for (size_t i = 0; i < variants.size(); ++i) {
    if (std::optional<Finding> bad = out_of_bounds(key, record, i)) {
      out.push_back(std::move(*bad));
    } else if (held[i].empty()) {
      out.push_back(record_finding(
          Code::RangeEmpty, Severity::Warning, key, record, variant_path(i, nullptr),
          range_of(variants[i]) + " holds no bucket, so no user gets it",
          "a range must span at least 0.001 (one bucket in 1,000) to hold users"));
    }
    // Each overlap is told once, at the later variant, which loses the shared buckets.
    for (size_t earlier = 0; earlier < i; ++earlier) {
      std::vector<uint16_t> shared;
      for (uint16_t bucket : held[i]) {
        if (range_holds(variants[earlier], bucket)) shared.push_back(bucket);
      }
      if (shared.empty()) continue;
      out.push_back(record_finding(
          Code::RangesOverlap, Severity::Error, key, record, variant_path(i, nullptr),
          range_of(variants[i]) + " overlaps " + range_of(variants[earlier]),
          "buckets " + bucket_runs(shared) + " (" + bucket_percent(shared.size()) +
              " of users) go to " + ticked(variants[earlier].name) +
              ", the first range that holds them"));
    }
  }

  // Buckets outside a holdout group's ranges are users who are not held out, as meant.
  if (holdout_group) return;
  std::vector<uint16_t> uncovered;
  const BucketVariants assigned = bucket_variants(variants);
  for (uint16_t bucket = 0; bucket < kBucketCount; ++bucket) {
    if (assigned[bucket] == kNoVariant) uncovered.push_back(bucket);
  }
  if (uncovered.empty()) return;
  std::string message =
      variants.empty()
          ? "has no variants: no user gets a variant (100.0% of users get no decision)"
          : bucket_percent(uncovered.size()) + " of users get no variant (buckets " +
                bucket_runs(uncovered) + ")";
  out.push_back(record_finding(Code::RangesGap, Severity::Info, key, record,
                               {"experiment", "variants"}, std::move(message),
                               "intended for a partial rollout; otherwise widen a range to "
                               "cover the missing buckets"));
}

}  // namespace orvane::lint
