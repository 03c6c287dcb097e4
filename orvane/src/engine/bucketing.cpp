// The bucket of a seed text. The same seed lands in the same bucket in every process and
// on every platform, so a user keeps its variant; nothing here may depend on the machine.

#include <openssl/sha.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/internal.h"

namespace orvane {
namespace {

constexpr uint32_t kBucketCount = 1000;
constexpr size_t kBlock = SHA_CBLOCK;  // 64 bytes
// The padding needs a 0x80 byte and the 8-byte bit length after the message's last bytes.
constexpr size_t kLengthBytes = 8;

}  // namespace

uint16_t bucket_of(std::string_view seed) {
  // A stack context keeps the hot path free of heap allocation; the one-shot SHA1() and
  // the EVP interface allocate on every call. The message is padded here and its blocks go
  // to the block function straight: SHA1_Update and SHA1_Final would copy a short seed into
  // the context, pad it there and wipe the context afterwards, which costs about as much as
  // hashing the one block a seed nearly always fits in.
  SHA_CTX sha;
  SHA1_Init(&sha);
  const auto* data = reinterpret_cast<const unsigned char*>(seed.data());
  const size_t whole = seed.size() / kBlock * kBlock;
  if (whole > 0) SHA1_Update(&sha, data, whole);  // whole blocks are hashed in place

  unsigned char tail[2 * kBlock] = {};
  const size_t rest = seed.size() - whole;
  if (rest > 0) std::memcpy(tail, data + whole, rest);
  tail[rest] = 0x80;
  const size_t tail_size = rest + 1 + kLengthBytes <= kBlock ? kBlock : 2 * kBlock;
  const uint64_t bits = static_cast<uint64_t>(seed.size()) * 8;
  for (size_t i = 0; i < kLengthBytes; ++i) {
    tail[tail_size - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  for (size_t at = 0; at < tail_size; at += kBlock) SHA1_Transform(&sha, tail + at);

  // The digest is h0..h4 written big-endian: one 160-bit number whose 32-bit digits are
  // the state words. Horner's rule modulo the bucket count gives its remainder without
  // big-integer arithmetic, in a chain of five dependent divisions.
  uint64_t remainder = 0;
  for (const uint32_t word : {sha.h0, sha.h1, sha.h2, sha.h3, sha.h4}) {
    remainder = ((remainder << 32) | word) % kBucketCount;
  }
  return static_cast<uint16_t>(remainder);
}

}  // namespace orvane
