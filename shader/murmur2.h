// The 32-bit MurmurHash2 of a name. Every colour the shader has ever produced
// depends on this exact function: do not change a bit of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace shader {

inline std::uint32_t murmur2(const void* key, std::size_t length,
                             std::uint32_t seed) {
  constexpr std::uint32_t m = 0x5bd1e995;
  constexpr int r = 24;
  const auto* data = static_cast<const unsigned char*>(key);

  // The published function takes a 32-bit length; names are far shorter.
  std::uint32_t h = seed ^ static_cast<std::uint32_t>(length);
  for (; length >= 4; data += 4, length -= 4) {
    // Blocks are little-endian, whatever their alignment in the name.
    std::uint32_t k;
    std::memcpy(&k, data, 4);
    k *= m;
    k ^= k >> r;
    k *= m;
    h *= m;
    h ^= k;
  }
  switch (length) {
    case 3:
      h ^= std::uint32_t{data[2]} << 16;
      [[fallthrough]];
    case 2:
      h ^= std::uint32_t{data[1]} << 8;
      [[fallthrough]];
    case 1:
      h ^= data[0];
      h *= m;
  }
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}

}  // namespace shader

static_assert(
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
    "blocks are read in the machine's order, which must be little-endian");
