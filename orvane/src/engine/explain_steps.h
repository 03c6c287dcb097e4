#pragma once
// One step of an explanation made from what the tracer saw during one stage: its outcome,
// the reason in words and the details. Shared by explain.cpp and its tests only.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "base/json.h"
#include "config/targeting_tree.h"
#include "engine/explain.h"
#include "engine/internal.h"
#include "model/feature.h"

namespace orvane {

struct NodeSeen {
  std::optional<bool> result;
  bool leaf = false;
  std::optional<Json> read;  // a leaf's context value; absent when the context lacks it
};

struct BucketSeen {
  std::string seed;
  uint16_t bucket = 0;
  const Variant* chosen = nullptr;
};

// Everything one stage of one run reported through the trace hooks.
struct StageSeen {
  const Feature* feature = nullptr;
  Stage stage = Stage::Darkmode;
  std::unordered_map<const TargetingTree*, NodeSeen> nodes;
  std::optional<BucketSeen> bucketing;
  std::optional<Explanation> group;  // the nested run of a holdout or mutex group
};

ExplainedStep describe_step(const StageSeen& seen, const StageResult& result);

}  // namespace orvane
