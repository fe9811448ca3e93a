// The 32-bit MurmurHash2 of a name. Every colour the shader has ever produced
// depends on this exact function: do not change a bit of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace shader {

namespace murmur2_steps {

constexpr std::uint32_t m = 0x5bd1e995;
constexpr int r = 24;

// A 4-byte block, read little-endian whatever its alignment in the name, and
// mixed. The mixing does not depend on the seed.
inline std::uint32_t mixed_block(const unsigned char* data) {
  std::uint32_t k;
  std::memcpy(&k, data, 4);
  k *= m;
  k ^= k >> r;
  k *= m;
  return k;
}

// The last 1 to 3 bytes (unsigned), as the published function folds them in
// one after another: byte2 << 16, then byte1 << 8, then byte0.
inline std::uint32_t tail_bits(const unsigned char* data, std::size_t left) {
  std::uint32_t bits = 0;
  switch (left) {
    case 3:
      bits ^= std::uint32_t{data[2]} << 16;
      [[fallthrough]];
    case 2:
      bits ^= std::uint32_t{data[1]} << 8;
      [[fallthrough]];
    case 1:
      bits ^= data[0];
  }
  return bits;
}

inline std::uint32_t final_mix(std::uint32_t h) {
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}

// The published function takes its length as a signed 32-bit int: a name of
// 2^32 + 3 bytes hashes as its first 3, and one of 2^31 bytes or more whose
// length is negative as an int has no block and no tail at all. These are the
// bytes to read, never more than the name holds.
inline std::size_t bytes_hashed(std::uint32_t length32) {
  return static_cast<std::int32_t>(length32) < 0 ? 0 : length32;
}

}  // namespace murmur2_steps

// The published function: one seed, one pass.
inline std::uint32_t murmur2(const void* key, std::size_t name_length,
                             std::uint32_t seed) {
  using namespace murmur2_steps;
  const auto* data = static_cast<const unsigned char*>(key);
  const auto length32 = static_cast<std::uint32_t>(name_length);
  std::uint32_t h = seed ^ length32;
  std::size_t length = bytes_hashed(length32);
  for (; length >= 4; data += 4, length -= 4) h = (h * m) ^ mixed_block(data);
  if (length > 0) h = (h ^ tail_bits(data, length)) * m;
  return final_mix(h);
}

// Three hashes of one name, with three seeds, in one pass over it: each block
// is read and mixed once and folded into the three running states. The
// results are those of three calls of murmur2, bit for bit.
inline std::array<std::uint32_t, 3> murmur2_three(
    const void* key, std::size_t name_length,
    const std::array<std::uint32_t, 3>& seeds) {
  using namespace murmur2_steps;
  const auto* data = static_cast<const unsigned char*>(key);
  const auto length32 = static_cast<std::uint32_t>(name_length);
  std::uint32_t a = seeds[0] ^ length32, b = seeds[1] ^ length32,
                c = seeds[2] ^ length32;
  std::size_t length = bytes_hashed(length32);
  for (; length >= 4; data += 4, length -= 4) {
    const std::uint32_t k = mixed_block(data);
    a = (a * m) ^ k;
    b = (b * m) ^ k;
    c = (c * m) ^ k;
  }
  if (length > 0) {
    const std::uint32_t tail = tail_bits(data, length);
    a = (a ^ tail) * m;
    b = (b ^ tail) * m;
    c = (c ^ tail) * m;
  }
  return {final_mix(a), final_mix(b), final_mix(c)};
}

}  // namespace shader

static_assert(
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
    "blocks are read in the machine's order, which must be little-endian");
