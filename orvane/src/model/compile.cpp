#include "model/compile.h"

#include <string_view>
#include <unordered_map>

namespace orvane {
namespace {

enum class State : uint8_t { Fresh, InProgress, Done };

// Parent slots of a record, resolved in this order: the holdout group before the mutex
// group. Dynamic configurations keep no parents, so they never take part in a cycle.
constexpr int kParentSlots = 2;

const std::optional<std::string>& parent_name(const Experiment& record, int slot) {
  return slot == 0 ? record.parent_hg_name : record.parent_meg_name;
}

class Compiler {
 public:
  explicit Compiler(ExperimentConfig config) : config_(std::move(config)) {
    index_.reserve(config_.size());
    for (size_t i = 0; i < config_.size(); ++i) index_.emplace(config_[i].first, i);
    state_.assign(config_.size(), State::Fresh);
    compiled_.resize(config_.size());
  }

  Result<FeatureList, OrvaneInitError> run() {
    for (size_t i = 0; i < config_.size(); ++i) {
      if (std::optional<OrvaneInitError> error = compile_from(i)) return std::move(*error);
    }
    return std::move(compiled_);
  }

 private:
  struct Frame {
    size_t record;
    int next_slot;
  };

  std::optional<size_t> parent_index(size_t record, int slot) const {
    const Experiment& e = config_[record].second;
    if (e.type == ExperimentType::DynamicConfig) return std::nullopt;
    const std::optional<std::string>& name = parent_name(e, slot);
    if (!name) return std::nullopt;
    auto it = index_.find(*name);
    if (it == index_.end()) return std::nullopt;  // a dangling name means no parent
    return it->second;
  }

  // Compiles `root` and every parent it needs, depth first without recursion, so a long
  // chain of groups cannot exhaust the stack. Each record is compiled once and shared by
  // every record that names it.
  std::optional<OrvaneInitError> compile_from(size_t root) {
    if (state_[root] == State::Done) return std::nullopt;
    std::vector<Frame> path{{root, 0}};
    state_[root] = State::InProgress;
    while (!path.empty()) {
      Frame& top = path.back();
      if (top.next_slot < kParentSlots) {
        std::optional<size_t> parent = parent_index(top.record, top.next_slot++);
        if (!parent || state_[*parent] == State::Done) continue;
        if (state_[*parent] == State::InProgress) return cycle_error(path, *parent);
        state_[*parent] = State::InProgress;
        path.push_back({*parent, 0});
        continue;
      }
      compiled_[top.record] = build(top.record);
      state_[top.record] = State::Done;
      path.pop_back();
    }
    return std::nullopt;
  }

  OrvaneInitError cycle_error(const std::vector<Frame>& path, size_t back_to) const {
    ParentCycle cycle;
    bool in_cycle = false;
    for (const Frame& frame : path) {
      in_cycle = in_cycle || frame.record == back_to;
      if (in_cycle) cycle.keys.push_back(config_[frame.record].first);
    }
    cycle.keys.push_back(config_[back_to].first);
    return OrvaneInitError{std::move(cycle)};
  }

  std::shared_ptr<const Feature> parent_feature(size_t record, int slot) const {
    std::optional<size_t> parent = parent_index(record, slot);
    return parent ? compiled_[*parent] : nullptr;
  }

  // Each record is built exactly once, so its data can be moved into the feature.
  std::shared_ptr<const Feature> build(size_t record) {
    Experiment& e = config_[record].second;
    std::shared_ptr<Feature> feature = new_feature();
    feature->id = e.id;
    feature->name = std::move(e.name);
    feature->enabled = e.enabled;
    feature->type = e.type;
    feature->version = e.experiment.experiment_version;
    feature->owner = std::move(e.owner);
    feature->emit_event = e.emit_event;
    feature->platform_bitmask = 0;
    feature->value = std::move(e.value);
    feature->value_type = e.value_type;
    feature->targeting = std::move(e.experiment.targeting);
    feature->overrides = std::move(e.experiment.overrides);
    if (e.type != ExperimentType::DynamicConfig) {
      VariantSet set;
      set.start_ts = e.start_ts;
      set.stop_ts = e.stop_ts;
      set.shuffle_version = e.experiment.shuffle_version;
      set.bucket_val = std::move(e.experiment.bucket_val);
      set.variants = std::move(e.experiment.variants);
      set.holdout = parent_feature(record, 0);
      set.mutex_group = parent_feature(record, 1);
      feature->variant_set = std::move(set);
    }
    return feature;
  }

  ExperimentConfig config_;
  std::unordered_map<std::string_view, size_t> index_;  // views into config_ keys
  std::vector<State> state_;
  FeatureList compiled_;
};

}  // namespace

Result<FeatureList, OrvaneInitError> experiment_config_to_features(ExperimentConfig config) {
  return Compiler(std::move(config)).run();
}

}  // namespace orvane
