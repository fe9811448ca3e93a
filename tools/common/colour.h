// Colour as files and people see it: the sRGB curve both ways, 8-bit codes
// and their hex, and how different two colours look (CIEDE2000). Used by the
// render, the report and the matte tool alike.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace common {

// A linear colour, as the shader returns it and a manifest gives it.
struct Rgb {
  float red, green, blue;
};

// A linear colour channel as the 8-bit sRGB-encoded value that the PNG and
// the manifest's hex give. Computed with exactly rounded arithmetic only, so
// that every build gives the same bytes.
std::uint8_t srgb_byte(double linear);

// A linear value (alpha) as an 8-bit value.
std::uint8_t linear_byte(double value);

// The sRGB curve's inverse: the linear value of an encoded one in [0, 1],
// in +, -, * and / alone.
double srgb_decode(double encoded);

// "#rrggbb" of a colour's 8-bit values, as the image shows it.
std::string hex_colour(const Rgb& colour);

// How different two colours look: CIEDE2000 between linear sRGB colours
// (Rec. 709 primaries, D65 white) taken to CIELAB. About 1 is the smallest
// difference a viewer notices; a keyer needs more.
using Lab = std::array<double, 3>;  // L*, a*, b*

// A linear sRGB colour in CIELAB (D65 white).
Lab lab_of(const Rgb& colour);

// The CIEDE2000 colour difference of two CIELAB colours.
double ciede2000(const Lab& first, const Lab& second);

}  // namespace common
