#pragma once
// Deciding one feature for many identifiers and counting the answers: how many got each
// variant, how many got no decision (by the stage that left them without one, and why),
// which errors, and where the feature's own bucketing stage put those that reached it,
// for a sample-ratio check against the ranges.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "engine/orvane.h"
#include "model/feature.h"

namespace orvane::lint {

struct NamedCount {
  std::string name;
  uint64_t count = 0;
};

struct StopCount {
  std::string stage;  // empty when the chain ran out without any stage stopping it
  std::string reason;
  uint64_t count = 0;
};

struct PreviewTally {
  uint64_t total = 0;
  // Decisions with a variant, by name in order of first appearance.
  std::vector<NamedCount> variants;
  // Decisions without a variant: held out by a holdout group, or a value.
  uint64_t without_variant = 0;
  std::vector<StopCount> no_decision;
  std::vector<NamedCount> errors;  // by choose's error text
  // Runs that reached the feature's own bucketing stage, by the index of the variant
  // whose range held the bucket; the last entry counts buckets no range holds.
  std::vector<uint64_t> bucketed;
};

// The buckets of each of `feature`'s variants (the first range holding a bucket takes
// it), then the buckets no range holds. Empty for a feature without a variant set.
std::vector<uint64_t> range_buckets(const Feature& feature);

// Adds the decisions of `feature` for `identifiers` to `tally`, each request being
// `base` with the identifier in the feature's bucketing field. Answers are choose's, but
// no exposure event is serialised.
void tally_identifiers(const Orvane& engine, const Feature& feature, const Context& base,
                       const std::vector<std::string_view>& identifiers, PreviewTally& tally);

// The same for generated identifiers "u" + i, for i in [first, last); the decimal number
// alone when the bucketing field holds integers.
void tally_generated(const Orvane& engine, const Feature& feature, const Context& base,
                     uint64_t first, uint64_t last, PreviewTally& tally);

}  // namespace orvane::lint
