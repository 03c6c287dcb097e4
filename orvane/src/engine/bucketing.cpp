// The bucket of a seed text. The same seed lands in the same bucket in every process and
// on every platform, so a user keeps its variant; nothing here may depend on the machine.

#include <openssl/sha.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/internal.h"

namespace orvane {
namespace {

constexpr uint32_t kBucketCount = 1000;

}  // namespace

uint16_t bucket_of(std::string_view seed) {
  // A stack context keeps the hot path free of heap allocation; the one-shot SHA1() and
  // the EVP interface allocate on every call.
  SHA_CTX sha;
  SHA1_Init(&sha);
  SHA1_Update(&sha, seed.data(), seed.size());
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1_Final(digest, &sha);

  // The digest is one big-endian 160-bit number; Horner's rule modulo the bucket count
  // gives its remainder without big-integer arithmetic. Taking it 32 bits at a time keeps
  // the chain of dependent divisions at five instead of twenty.
  uint64_t remainder = 0;
  for (size_t i = 0; i < SHA_DIGEST_LENGTH; i += 4) {
    uint64_t word = (uint64_t{digest[i]} << 24) | (uint64_t{digest[i + 1]} << 16) |
                    (uint64_t{digest[i + 2]} << 8) | uint64_t{digest[i + 3]};
    remainder = ((remainder << 32) | word) % kBucketCount;
  }
  return static_cast<uint16_t>(remainder);
}

}  // namespace orvane
