#include "lint/buckets.h"

#include <charconv>

#include "engine/internal.h"

namespace orvane::lint {

bool range_holds(const Variant& variant, uint16_t bucket) {
  return in_range(variant, bucket_fraction(bucket));
}

BucketVariants bucket_variants(const std::vector<Variant>& variants) {
  BucketVariants out;
  for (uint16_t bucket = 0; bucket < kBucketCount; ++bucket) {
    out[bucket] = kNoVariant;
    for (size_t i = 0; i < variants.size(); ++i) {
      if (range_holds(variants[i], bucket)) {
        out[bucket] = static_cast<int32_t>(i);
        break;
      }
    }
  }
  return out;
}

std::string bucket_runs(const std::vector<uint16_t>& buckets) {
  std::string out;
  for (size_t i = 0; i < buckets.size();) {
    size_t j = i;
    while (j + 1 < buckets.size() && buckets[j + 1] == buckets[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(buckets[i]);
    if (j > i) out += "-" + std::to_string(buckets[j]);
    i = j + 1;
  }
  return out;
}

std::string bucket_percent(size_t buckets) {
  // A thousand buckets make every share a whole tenth of a percent.
  std::string out = std::to_string(buckets / 10) + "." + std::to_string(buckets % 10) + "%";
  return out;
}

std::string range_text(float value) {
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return "?";
  return std::string(buffer, end);
}

}  // namespace orvane::lint
