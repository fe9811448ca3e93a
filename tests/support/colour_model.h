// A plain model of how the shader derives a channel, written apart from
// the library's code so that the tests that predict colours with it do not
// grade the library by itself: the published MurmurHash2 byte by byte, the
// hash's conversion to a generator seed, and the recording hosts' first
// draw after that seed.
#pragma once

#include <cstdint>
#include <string>

#include "tests/hosts/shader_host.h"

namespace testing_support {

// MurmurHash2, byte by byte.
inline std::uint32_t model_hash(const std::string& name, std::uint32_t seed) {
  const std::uint32_t m = 0x5bd1e995;
  const std::size_t blocks = name.size() / 4;
  std::uint32_t h = seed ^ static_cast<std::uint32_t>(name.size());
  auto byte = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[i]));
  };
  for (std::size_t b = 0; b < blocks; ++b) {
    std::uint32_t k = byte(4 * b) | byte(4 * b + 1) << 8 |
                      byte(4 * b + 2) << 16 | byte(4 * b + 3) << 24;
    k *= m;
    k ^= k >> 24;
    k *= m;
    h = (h * m) ^ k;
  }
  const std::size_t tail = 4 * blocks, left = name.size() - tail;
  if (left == 3) h ^= byte(tail + 2) << 16;
  if (left >= 2) h ^= byte(tail + 1) << 8;
  if (left >= 1) h = (h ^ byte(tail)) * m;
  h ^= h >> 13;
  h *= m;
  return h ^ (h >> 15);
}

// Rounds to 24 significant bits, ties to even, then truncates to int32 as the
// hardware does: anything from 2^31 up is INT32_MIN.
inline std::int32_t model_seed(std::uint32_t h) {
  std::uint64_t value = h;
  int shift = 0;
  while ((value >> shift) >= (1u << 24)) ++shift;
  if (shift > 0) {
    const std::uint64_t q = value >> shift,
                        rest = value & ((1ull << shift) - 1);
    const std::uint64_t half = 1ull << (shift - 1);
    const std::uint64_t up = rest > half || (rest == half && (q & 1));
    value = (q + up) << shift;
  }
  return value >= (1ull << 31) ? INT32_MIN : static_cast<std::int32_t>(value);
}

inline float model_channel(const std::string& name, std::int32_t seed,
                           std::uint32_t offset) {
  const std::uint32_t hash_seed = static_cast<std::uint32_t>(seed) + offset;
  return shader_host::first_draw(model_seed(model_hash(name, hash_seed)));
}

}  // namespace testing_support
