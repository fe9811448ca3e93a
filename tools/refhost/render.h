// Rendering the object-ID image: rays through every pixel, the shader
// called for every sample that hits, coverage and which objects touch.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "library/shader/records.h"
#include "tools/common/colour.h"
#include "tools/refhost/scene.h"
#include "tools/refhost/tracer.h"

// Rendering the object-ID image: rays through every pixel, the shader called
// for every sample that hits an object, samples averaged.
namespace refhost {

// How much of the image an object covers.
struct Coverage {
  std::uint64_t samples = 0;  // samples that hit it
  std::uint64_t pixels = 0;   // pixels all of whose samples hit it
};

// The objects that the samples of each pixel of a row hit: for each pixel,
// their number n, then n object indices, then n counts of samples.
using RowObjects = std::vector<std::uint32_t>;

// One pixel of a row: its objects, and their samples just after them.
struct PixelView {
  const std::uint32_t* first;
  std::uint32_t count;
  std::uint32_t samples(std::uint32_t i) const { return first[count + i]; }
};
std::vector<PixelView> pixels_of(const RowObjects& row);

struct Image {
  int width = 0;
  int height = 0;
  // Straight alpha, as PNG holds it: the average colour (linear) of the
  // samples that hit an object, sRGB-encoded, and the share of samples that
  // hit as alpha (linear, as alpha always is).
  std::vector<std::uint8_t> rgba;
  // Premultiplied, as EXR holds it: the colours of all samples averaged
  // (misses count as black) and the same share as alpha. A pixel that one
  // object covers holds the shader's colour exactly. Kept only on request.
  std::vector<float> premultiplied;
  std::vector<Coverage> coverage;  // by object
  // The pairs of objects that touch in the image: that share a pixel, or lie
  // in pixels that share an edge. Each pair once, the lower index first, in
  // order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> touching;
  // The objects of every pixel with their samples, row by row, kept on
  // request (see RowObjects).
  std::vector<RowObjects> objects;
};

// Filled from the scene (which has the one default size) and the options.
struct RenderSettings {
  int width = 0;
  int height = 0;
  int samples = 0;  // per side: samples × samples rays per pixel
  int threads = 1;
  bool keep_float = false;    // fill Image::premultiplied too
  bool keep_objects = false;  // fill Image::objects too
};

// The shader's colour for a sample that hits `object`.
using ShadeFunction = std::function<host::Colour(std::size_t object)>;

Image render(const Tracer& tracer, const RenderSettings& settings,
             const ShadeFunction& shade);

}  // namespace refhost
