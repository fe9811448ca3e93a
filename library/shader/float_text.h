// A float32 as the shortest decimal text that reads back as the same float,
// written as the tools write every colour (fixed or scientific, whichever is
// shorter, fixed on a tie: 0.14564872, 1e-07), so that the colour record and
// the reference host's manifest show one colour alike. Made with integers
// alone: the C library's conversions differ between systems, and the
// library may not allocate.
#pragma once

#include <cstddef>

namespace shader {

// Room for any float's text, without a terminating zero.
inline constexpr std::size_t kFloatTextSize = 16;

// Writes `value` to `out` and returns the length. Infinities and NaNs,
// which JSON cannot hold, are written as null.
std::size_t float_text(float value, char (&out)[kFloatTextSize]);

}  // namespace shader
