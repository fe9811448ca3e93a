// How exactly an ID image says each value. A stored channel stands for
// every value that its encoding rounds to it (half a float's last place, a
// half's 11 bits, an 8- or 16-bit code on its transfer curve), and a
// renderer that sums its samples in float32 adds an error of its own, which
// grows with the samples. Every test of "this pixel is this colour" and
// "this mix gives this pixel" asks whether a value lies in that span.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/matte/id_image.h"

namespace matte {

// The values a stored channel stands for: centre plus or minus half.
struct Span {
  double centre = 0;
  double half = 0;
  // How far `value` lies from the centre, in halves: within 1, the value
  // is stored as this very value.
  double misfit(double value) const;
};

// One step of a half at `value`: 11 significant bits, then 2^-24 below
// 2^-14.
double half_step(double value);
// `value` rounded to the nearest half, as a half EXR stores it.
float to_half(float value);

class Precision {
 public:
  // `accumulation`: the renderer's own summing error, relative to a value.
  explicit Precision(const IdImage& image, double accumulation = 0);

  // Channel `c` (0 to 2) of pixel `p`: premultiplied for an EXR, straight
  // for a PNG (whose colour is stored straight).
  Span channel(std::size_t p, int c) const;
  // Its alpha, the sum of its coverages.
  Span alpha(std::size_t p) const;
  // The distance between neighbouring stored values near `linear`.
  double step(double linear) const;
  double accumulation() const { return accumulation_; }
  const IdImage& image() const { return *image_; }

 private:
  Span widened(Span s) const;
  Span code_span(int first, int last) const;  // codes first to last

  const IdImage* image_;
  double accumulation_;
};

// The summing error that fully covered pixels show: over every pixel whose
// eight neighbours are matched to the same colour as it (so that it is no
// edge, where a sample of another object may hide), how far its value lies
// outside the rounding of that colour, relative to the value. `entry` gives
// each pixel's matched colour in `colours`, or -1.
struct Accumulation {
  double relative = 0;     // the largest, relative to the value
  std::size_t pixels = 0;  // the pixels it was measured on
};
Accumulation measure_accumulation(
    const Precision& precision, const std::int32_t* entry,
    const std::vector<std::array<double, 3>>& colours);

}  // namespace matte
