// The bucket of a seed text. The same seed lands in the same bucket in every process and
// on every platform, so a user keeps its variant; nothing here may depend on the machine.

#include <openssl/sha.h>

#include <array>
#include <bit>
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

// 2^(32 * (4 - i)) modulo the bucket count: the place value of the digest's word i.
constexpr std::array<uint64_t, 5> kPlace = [] {
  std::array<uint64_t, 5> place{};
  uint64_t value = 1;
  for (size_t i = place.size(); i-- > 0;) {
    place[i] = value;
    value = (value << 32) % kBucketCount;
  }
  return place;
}();

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
  // The bit length goes in big-endian, as one store rather than eight byte stores that
  // the block function would then read back as words.
  uint64_t bits = static_cast<uint64_t>(seed.size()) * 8;
  if constexpr (std::endian::native == std::endian::little) bits = __builtin_bswap64(bits);
  std::memcpy(tail + tail_size - kLengthBytes, &bits, kLengthBytes);
  for (size_t at = 0; at < tail_size; at += kBlock) SHA1_Transform(&sha, tail + at);

  // The digest is h0..h4 written big-endian: one 160-bit number whose 32-bit digits are
  // the state words. Its remainder is the sum of each digit's remainder times its place
  // value's remainder: five independent reductions rather than a chain of dependent ones.
  const uint64_t remainder = sha.h0 % kBucketCount * kPlace[0] + sha.h1 % kBucketCount * kPlace[1] +
                             sha.h2 % kBucketCount * kPlace[2] + sha.h3 % kBucketCount * kPlace[3] +
                             sha.h4 % kBucketCount * kPlace[4];
  return static_cast<uint16_t>(remainder % kBucketCount);
}

}  // namespace orvane
