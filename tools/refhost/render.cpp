#include "tools/refhost/render.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "tools/refhost/progress.h"

namespace refhost {

std::uint8_t to_byte(double channel) {
  const double clamped = std::clamp(channel, 0.0, 1.0);
  return static_cast<std::uint8_t>(clamped * 255.0 + 0.5);
}

namespace {

// Each pixel depends only on its own samples, so the image is the same
// whatever the number of threads and the order they work in.
void render_row(const Tracer& tracer, const RenderSettings& settings,
                const ShadeFunction& shade, int y, Image& image) {
  const int n = settings.samples;
  const std::size_t first = static_cast<std::size_t>(y) * settings.width;
  for (int x = 0; x < settings.width; ++x) {
    double sum[3] = {0, 0, 0};
    int hits = 0;
    for (int sy = 0; sy < n; ++sy) {
      for (int sx = 0; sx < n; ++sx) {
        const auto object = tracer.hit(x + (sx + 0.5) / n, y + (sy + 0.5) / n);
        if (!object) continue;
        const host::Colour colour = shade(*object);
        sum[0] += colour.red;
        sum[1] += colour.green;
        sum[2] += colour.blue;
        ++hits;
      }
    }
    // Sums of at most 256 floats are exact in a double, so a pixel whose
    // samples all hit one object divides back to that object's colour.
    const double count = n * n;
    std::uint8_t* pixel = &image.rgba[4 * (first + x)];
    for (int c = 0; c < 3; ++c) pixel[c] = to_byte(hits ? sum[c] / hits : 0);
    pixel[3] = to_byte(hits / count);
    if (!settings.keep_float) continue;
    float* value = &image.premultiplied[4 * (first + x)];
    for (int c = 0; c < 3; ++c) value[c] = static_cast<float>(sum[c] / count);
    value[3] = static_cast<float>(hits / count);
  }
}

}  // namespace

Image render(const Tracer& tracer, const RenderSettings& settings,
             const ShadeFunction& shade) {
  const std::size_t pixels =
      static_cast<std::size_t>(settings.width) * settings.height;
  Image image{settings.width,
              settings.height,
              std::vector<std::uint8_t>(pixels * 4),
              {}};
  if (settings.keep_float) image.premultiplied.resize(pixels * 4);
  std::atomic<int> next_row{0};
  Progress progress("rendering", settings.height);
  auto work = [&] {
    for (int y; (y = next_row.fetch_add(1)) < settings.height;) {
      render_row(tracer, settings, shade, y, image);
      progress.advance();
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < settings.threads; ++t) helpers.emplace_back(work);
  work();
  for (auto& helper : helpers) helper.join();
  progress.finish();
  return image;
}

}  // namespace refhost
