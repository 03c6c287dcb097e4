#pragma once
// Random bytes from the operating system for the UUIDs of exposure events, handed out
// from a per-thread buffer so that a batch of events costs one system call, not one each.

#include <cstddef>
#include <cstdint>
#include <span>
#include <sys/types.h>

namespace orvane {

// Fills `out` with bytes the OS random source produced and no other process or thread
// receives: getrandom(2), then /dev/urandom if getrandom fails for any reason other than
// an interrupt. False only when both fail; `out` then holds nothing usable.
// Thread-safe; after fork() the child discards what the parent had buffered.
[[nodiscard]] bool random_bytes(std::span<uint8_t> out);

// Replace the OS entry points so that tests can make a source fail. Each call also drops
// every thread's buffered bytes. nullptr restores the real source.
using GetrandomFn = ssize_t (*)(void* buffer, size_t length, unsigned int flags);
void set_getrandom_for_testing(GetrandomFn getrandom_fn);
void set_urandom_path_for_testing(const char* path);

// Bytes fetched from the OS per refill of a thread's buffer.
inline constexpr size_t kRandomBufferSize = 4096;

}  // namespace orvane
