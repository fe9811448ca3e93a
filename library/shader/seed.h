// How a name hash becomes the seed of the renderer's random generator.
#pragma once

#include <cstdint>

namespace shader {

// Per-channel offsets added to the shader's `seed` parameter.
constexpr std::uint32_t kRedOffset = 11;
constexpr std::uint32_t kGreenOffset = 21;
constexpr std::uint32_t kBlueOffset = 31;

// seed + offset with 32-bit wrap-around, as the hash seed.
constexpr std::uint32_t channel_hash_seed(std::int32_t seed,
                                          std::uint32_t offset) {
  return static_cast<std::uint32_t>(seed) + offset;
}

// The hash goes through a single-precision float (rounded to nearest, ties to
// even) and is truncated to a signed 32-bit integer. Floats of 2^31 and above
// give INT32_MIN, as the x86 conversion does; so every hash from 2147483584
// up, where the rounding already reaches 2^31, shares that one seed. Existing
// renders depend on these seeds, quirks included.
inline std::int32_t random_seed_from_hash(std::uint32_t hash) {
  const float rounded = static_cast<float>(hash);
  if (rounded >= 2147483648.0f) return INT32_MIN;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace shader
