#pragma once
// The 1,000 buckets of the bucketing stage seen all at once: which variant each bucket
// falls into, by the stage's own range test, so shares computed here are exact.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/experiment.h"

namespace orvane::lint {

inline constexpr uint16_t kBucketCount = 1000;
inline constexpr int32_t kNoVariant = -1;

// For each bucket, the index of the first variant whose range holds it, or kNoVariant.
using BucketVariants = std::array<int32_t, kBucketCount>;
BucketVariants bucket_variants(const std::vector<Variant>& variants);

// Whether `variant`'s range holds `bucket`, whatever the other variants say.
bool range_holds(const Variant& variant, uint16_t bucket);

// Buckets, ascending, written as runs: "400-499", "0-9, 500, 990-999".
std::string bucket_runs(const std::vector<uint16_t>& buckets);

// A number of buckets as a share of all of them: "40.0%". Exact, since each bucket is a
// tenth of a percent.
std::string bucket_percent(size_t buckets);

// A range end as written, in the shortest form that reads back as the same float.
std::string range_text(float value);

}  // namespace orvane::lint
