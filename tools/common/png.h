// PNG files as the reference host and the matte tool write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace common {

// An 8-bit RGBA image of `width` by `height` pixels, row by row: sRGB-encoded
// colour, straight linear alpha, and the sRGB, gAMA and cHRM chunks that
// say so.
std::string png_bytes(int width, int height,
                      const std::vector<std::uint8_t>& rgba);

// A one-channel 16-bit PNG of linear values from 0 to 1 (a matte), marked
// linear with gAMA 1.0.
std::string png_grey16_bytes(int width, int height,
                             const std::vector<float>& values);

}  // namespace common
