#include "events/random_source.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <unistd.h>

namespace orvane {
namespace {

std::atomic<GetrandomFn> g_getrandom{&::getrandom};
std::atomic<const char*> g_urandom_path{"/dev/urandom"};

// Bumped in a fork child (and by the test hooks). A thread whose buffer was filled under
// an older generation throws it away: otherwise a child would hand out the very bytes its
// parent, and every sibling forked from the same state, hand out next.
std::atomic<uint64_t> g_generation{1};

void on_fork_child() { g_generation.fetch_add(1, std::memory_order_relaxed); }

void register_fork_handler() {
  // Registered before the first buffer is filled, so no buffer predates the handler.
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, &on_fork_child);
    return true;
  }();
  (void)registered;
}

struct ThreadBuffer {
  uint64_t generation = 0;
  size_t pos = kRandomBufferSize;  // empty
  std::array<uint8_t, kRandomBufferSize> bytes;
};
thread_local ThreadBuffer t_buffer;

bool fill_from_getrandom(std::span<uint8_t> out) {
  GetrandomFn getrandom_fn = g_getrandom.load(std::memory_order_acquire);
  size_t done = 0;
  while (done < out.size()) {
    ssize_t got = getrandom_fn(out.data() + done, out.size() - done, 0);
    if (got > 0) {
      done += static_cast<size_t>(got);  // large requests may come back short
    } else if (got < 0 && errno == EINTR) {
      continue;  // a signal arrived before any byte was copied; the source is fine
    } else {
      return false;  // ENOSYS (old kernel), EPERM (seccomp filter), ...
    }
  }
  return true;
}

bool fill_from_urandom(std::span<uint8_t> out) {
  const char* path = g_urandom_path.load(std::memory_order_acquire);
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < out.size()) {
    ssize_t got = ::read(fd, out.data() + done, out.size() - done);
    if (got > 0) {
      done += static_cast<size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      ok = false;  // an end of file here means this is no random device
      break;
    }
  }
  ::close(fd);
  return ok;
}

bool fill_from_os(std::span<uint8_t> out) {
  return fill_from_getrandom(out) || fill_from_urandom(out);
}

}  // namespace

bool random_bytes(std::span<uint8_t> out) {
  register_fork_handler();
  ThreadBuffer& buffer = t_buffer;
  uint64_t generation = g_generation.load(std::memory_order_acquire);
  if (buffer.generation != generation) {
    buffer.generation = generation;
    buffer.pos = kRandomBufferSize;
  }
  if (out.size() > kRandomBufferSize) return fill_from_os(out);
  if (kRandomBufferSize - buffer.pos < out.size()) {
    if (!fill_from_os(buffer.bytes)) {
      buffer.pos = kRandomBufferSize;
      return false;
    }
    buffer.pos = 0;
  }
  std::memcpy(out.data(), buffer.bytes.data() + buffer.pos, out.size());
  // Handed-out bytes are identifiers now; keep no second copy of them around.
  std::memset(buffer.bytes.data() + buffer.pos, 0, out.size());
  buffer.pos += out.size();
  return true;
}

void set_getrandom_for_testing(GetrandomFn getrandom_fn) {
  g_getrandom.store(getrandom_fn != nullptr ? getrandom_fn : &::getrandom,
                    std::memory_order_release);
  g_generation.fetch_add(1, std::memory_order_acq_rel);
}

void set_urandom_path_for_testing(const char* path) {
  g_urandom_path.store(path != nullptr ? path : "/dev/urandom", std::memory_order_release);
  g_generation.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace orvane
