#include "model/feature.h"

#include <vector>

namespace orvane {
namespace {

// Features whose last owner let go while another release was already running on this
// thread. The outermost release deletes them in turn, so deleting a feature that drops
// its parent's last reference queues the parent instead of recursing into it.
struct ReleaseQueue {
  std::vector<Feature*> pending;
  bool draining = false;
};

void release(Feature* feature) {
  thread_local ReleaseQueue queue;
  if (queue.draining) {
    try {
      queue.pending.push_back(feature);
      return;
    } catch (...) {
      // No memory to queue it: free it right here, which only deepens the stack.
    }
    delete feature;
    return;
  }
  queue.draining = true;
  delete feature;  // may queue its parents
  while (!queue.pending.empty()) {
    Feature* next = queue.pending.back();
    queue.pending.pop_back();
    delete next;  // may queue its parents
  }
  queue.draining = false;
}

}  // namespace

std::shared_ptr<Feature> new_feature() { return std::shared_ptr<Feature>(new Feature(), release); }

}  // namespace orvane
