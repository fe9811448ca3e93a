#include "tools/matte/precision.h"

#include <algorithm>
#include <cmath>

namespace matte {

namespace {

// Half a float's last place at `value`: what rounding a sum to float32
// may move it by.
double float_rounding(double value) {
  if (value == 0) return 0x1p-150;
  int exponent = 0;
  std::frexp(value, &exponent);  // value = m 2^exponent, m in [0.5, 1)
  return std::ldexp(1.0, std::max(exponent - 25, -150));
}

// Arithmetic in doubles on float colours is exact to about this, relative.
constexpr double kSlack = 1e-9;

}  // namespace

double Span::misfit(double value) const {
  return std::fabs(value - centre) / half;
}

double half_step(double value) {
  if (value == 0) return 0x1p-24;
  int exponent = 0;
  std::frexp(value, &exponent);
  return std::ldexp(1.0, std::max(exponent - 11, -24));
}

float to_half(float value) {
  if (!(std::fabs(value) >= 0x1p-25f)) return value == 0 ? value : 0.0f;
  const float step = static_cast<float>(half_step(value));
  return std::nearbyint(value / step) * step;
}

Precision::Precision(const IdImage& image, double accumulation)
    : image_(&image), accumulation_(accumulation) {}

Span Precision::widened(Span s) const {
  s.half += (accumulation_ + kSlack) * std::fabs(s.centre) + 1e-300;
  return s;
}

Span Precision::code_span(int first, int last) const {
  const int full = image_->full_code();
  const double low =
      first <= 0 ? 0.0
                 : image_->boundaries[static_cast<std::size_t>(first - 1)];
  const double high =
      last >= full ? 1.0 : image_->boundaries[static_cast<std::size_t>(last)];
  return {(low + high) / 2, (high - low) / 2};
}

Span Precision::channel(std::size_t p, int c) const {
  if (!image_->codes.empty()) {
    const int code = image_->codes[4 * p + c];
    return widened(code_span(code, code));
  }
  const double value = image_->rgba[4 * p + c];
  return widened({value, image_->encoding == Encoding::kHalf
                             ? half_step(value) / 2 + float_rounding(value)
                             : float_rounding(value)});
}

Span Precision::alpha(std::size_t p) const {
  if (!image_->codes.empty()) {
    const double full = image_->full_code();
    const double a = image_->codes[4 * p + 3];
    const double low = std::max(0.0, (a - 0.5) / full);
    const double high = std::min(1.0, (a + 0.5) / full);
    return {(low + high) / 2, (high - low) / 2};
  }
  const double value = image_->rgba[4 * p + 3];
  return widened({value, image_->encoding == Encoding::kHalf
                             ? half_step(value) / 2 + float_rounding(value)
                             : float_rounding(value)});
}

double Precision::step(double linear) const {
  switch (image_->encoding) {
    case Encoding::kFloat:
      return 2 * float_rounding(linear);
    case Encoding::kHalf:
      return half_step(linear);
    default: {
      const int code = encode_code(*image_, linear);
      return 2 * code_span(code, code).half;
    }
  }
}

Accumulation measure_accumulation(
    const Precision& precision, const std::int32_t* entry,
    const std::vector<std::array<double, 3>>& colours) {
  const IdImage& image = precision.image();
  const Precision exact(image);
  Accumulation found;
  const int w = image.width, h = image.height;
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * w + x;
      const std::int32_t e = entry[p];
      if (e < 0) continue;
      bool interior = true;
      for (int dy = -1; dy <= 1 && interior; ++dy)
        for (int dx = -1; dx <= 1 && interior; ++dx)
          interior = entry[p + static_cast<std::ptrdiff_t>(dy) * w + dx] == e;
      if (!interior) continue;
      ++found.pixels;
      const auto& colour = colours[static_cast<std::size_t>(e)];
      for (int c = 0; c < 3; ++c) {
        const Span s = exact.channel(p, c);
        const double outside = std::fabs(colour[c] - s.centre) - s.half;
        if (outside > 0 && colour[c] != 0)
          found.relative =
              std::max(found.relative, outside / std::fabs(colour[c]));
      }
    }
  return found;
}

}  // namespace matte
