// The bucket of a seed text. The same seed lands in the same bucket in every process and
// on every platform, so a user keeps its variant; nothing here may depend on the machine.

#include <openssl/sha.h>

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
  // gives its remainder without big-integer arithmetic.
  uint32_t remainder = 0;
  for (unsigned char byte : digest) {
    remainder = (remainder * 256 + byte) % kBucketCount;
  }
  return static_cast<uint16_t>(remainder);
}

}  // namespace orvane
