// The sRGB curve, as the 8-bit code of a linear value: what the PNG and the
// hex of a colour show. The linear values halfway between neighbouring codes
// are computed once, at compile time, in +, -, * and / alone, so that the
// library's colour record, the reference host and the matte tool give every
// colour the same code on every build.
#pragma once

#include <cstdint>

namespace srgb {

// x^(1/5) by Newton's method from a guess.
constexpr double fifth_root(double x) {
  double r = x < 1 ? 0.5 + x / 2 : 1;
  for (int i = 0; i < 60; ++i)
    r -= (r * r * r * r * r - x) / (5 * r * r * r * r);
  return r;
}

// The linear value of an encoded one in [0, 1].
constexpr double decode(double encoded) {
  if (encoded <= 0.04045) return encoded / 12.92;
  const double y = (encoded + 0.055) / 1.055;
  const double y2 = y * y;
  return y2 * fifth_root(y2);  // y^2.4 = y^2 * (y^2)^(1/5)
}

// The linear values halfway between neighbouring 8-bit codes.
struct Boundaries {
  double at[255];
};

constexpr Boundaries make_boundaries() {
  Boundaries b{};
  for (int i = 0; i < 255; ++i) b.at[i] = decode((i + 0.5) / 255.0);
  return b;
}

inline constexpr Boundaries kBoundaries = make_boundaries();

// A linear value's 8-bit code: the number of boundaries that it does not lie
// below (all of them for NaN).
constexpr std::uint8_t byte(double linear) {
  int low = 0, high = 255;  // the answer lies in [low, high]
  while (low < high) {
    const int middle = (low + high) / 2;
    if (!(linear < kBoundaries.at[middle]))
      low = middle + 1;
    else
      high = middle;
  }
  return static_cast<std::uint8_t>(low);
}

}  // namespace srgb
