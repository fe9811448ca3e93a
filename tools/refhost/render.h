// Rendering the object-ID image: rays through every pixel, the shader called
// for every sample that hits an object, samples averaged.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host/records.h"
#include "tools/refhost/raycast.h"

namespace refhost {

struct Image {
  int width = 0;
  int height = 0;
  // Straight alpha, as PNG holds it: the average colour of the samples that
  // hit an object, and the share of samples that hit as alpha.
  std::vector<std::uint8_t> rgba;
  // Premultiplied, as EXR holds it: the colours of all samples averaged
  // (misses count as black) and the same share as alpha. A pixel that one
  // object covers holds the shader's colour exactly. Kept only on request.
  std::vector<float> premultiplied;
};

struct RenderSettings {
  int width = 640;
  int height = 360;
  int samples = 3;  // per side: samples × samples rays per pixel
  int threads = 1;
  bool keep_float = false;  // fill Image::premultiplied too
};

// The shader's colour for a sample that hits `object`.
using ShadeFunction = std::function<host::Colour(std::size_t object)>;

Image render(const Tracer& tracer, const RenderSettings& settings,
             const ShadeFunction& shade);

// A colour channel as an 8-bit value, as the image and the manifest give it.
std::uint8_t to_byte(double channel);

}  // namespace refhost
