#include "tools/refhost/render.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "tools/common/progress.h"
#include "tools/common/workers.h"

namespace refhost {

using common::linear_byte;
using common::Progress;
using common::run_on_threads;
using common::srgb_byte;

namespace {

// Each pixel depends only on its own samples, so the image is the same
// whatever the number of threads and the order they work in.
// The objects that one pixel's samples hit, each with its number of hits.
struct PixelObjects {
  std::pair<std::size_t, int> hits[256];
  int count = 0;
  void add(std::size_t object) {
    for (int i = 0; i < count; ++i)
      if (hits[i].first == object) return void(++hits[i].second);
    hits[count++] = {object, 1};
  }
};

// Coverage as the threads count it, all at once.
struct SharedCoverage {
  std::atomic<std::uint64_t> samples{0}, pixels{0};
};

void render_row(const Tracer& tracer, const RenderSettings& settings,
                const ShadeFunction& shade, int y, Image& image,
                std::vector<SharedCoverage>& coverage, RowObjects& row) {
  const int n = settings.samples;
  const std::size_t first = static_cast<std::size_t>(y) * settings.width;
  for (int x = 0; x < settings.width; ++x) {
    double sum[3] = {0, 0, 0};
    int hits = 0;
    PixelObjects objects;
    for (int sy = 0; sy < n; ++sy) {
      for (int sx = 0; sx < n; ++sx) {
        const auto object = tracer.hit(x + (sx + 0.5) / n, y + (sy + 0.5) / n);
        if (!object) continue;
        const host::Colour colour = shade(*object);
        sum[0] += colour.red;
        sum[1] += colour.green;
        sum[2] += colour.blue;
        ++hits;
        objects.add(*object);
      }
    }
    row.push_back(static_cast<std::uint32_t>(objects.count));
    for (int i = 0; i < objects.count; ++i)
      row.push_back(static_cast<std::uint32_t>(objects.hits[i].first));
    for (int i = 0; i < objects.count; ++i) {
      row.push_back(static_cast<std::uint32_t>(objects.hits[i].second));
      SharedCoverage& c = coverage[objects.hits[i].first];
      c.samples.fetch_add(static_cast<std::uint64_t>(objects.hits[i].second),
                          std::memory_order_relaxed);
      if (objects.hits[i].second == n * n)
        c.pixels.fetch_add(1, std::memory_order_relaxed);
    }
    // Sums of at most 256 floats are exact in a double, so a pixel whose
    // samples all hit one object divides back to that object's colour.
    const double count = n * n;
    std::uint8_t* pixel = &image.rgba[4 * (first + x)];
    for (int c = 0; c < 3; ++c) pixel[c] = srgb_byte(hits ? sum[c] / hits : 0);
    pixel[3] = linear_byte(hits / count);
    if (!settings.keep_float) continue;
    float* value = &image.premultiplied[4 * (first + x)];
    for (int c = 0; c < 3; ++c) value[c] = static_cast<float>(sum[c] / count);
    value[3] = static_cast<float>(hits / count);
  }
}

}  // namespace

std::vector<PixelView> pixels_of(const RowObjects& row) {
  std::vector<PixelView> pixels;
  for (std::size_t at = 0; at < row.size(); at += 1 + 2 * row[at])
    pixels.push_back({&row[at + 1], row[at]});
  return pixels;
}

namespace {

void add_pairs(const PixelView& a, const PixelView& b,
               std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs) {
  for (std::uint32_t i = 0; i < a.count; ++i)
    for (std::uint32_t j = 0; j < b.count; ++j)
      if (a.first[i] != b.first[j])
        pairs.emplace_back(std::min(a.first[i], b.first[j]),
                           std::max(a.first[i], b.first[j]));
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> touching_pairs(
    const std::vector<RowObjects>& rows) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  std::vector<PixelView> above;
  for (const RowObjects& row : rows) {
    const std::vector<PixelView> pixels = pixels_of(row);
    for (std::size_t x = 0; x < pixels.size(); ++x) {
      add_pairs(pixels[x], pixels[x], pairs);
      if (x > 0) add_pairs(pixels[x - 1], pixels[x], pairs);
      if (!above.empty()) add_pairs(above[x], pixels[x], pairs);
    }
    above = pixels;
  }
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  return pairs;
}

}  // namespace

Image render(const Tracer& tracer, const RenderSettings& settings,
             const ShadeFunction& shade) {
  const std::size_t pixels =
      static_cast<std::size_t>(settings.width) * settings.height;
  Image image;
  image.width = settings.width;
  image.height = settings.height;
  image.rgba.resize(pixels * 4);
  if (settings.keep_float) image.premultiplied.resize(pixels * 4);
  std::atomic<int> next_row{0};
  Progress progress("rendering", settings.height);
  std::vector<SharedCoverage> coverage(tracer.objects());
  std::vector<RowObjects> rows(static_cast<std::size_t>(settings.height));
  // Memory running out in any thread stops them all, and is reported.
  run_on_threads(
      settings.threads,
      [&] {
        for (int y; (y = next_row.fetch_add(1)) < settings.height;) {
          render_row(tracer, settings, shade, y, image, coverage, rows[y]);
          progress.advance();
        }
      },
      [&] { next_row = settings.height; });
  image.coverage.resize(coverage.size());
  for (std::size_t i = 0; i < coverage.size(); ++i)
    image.coverage[i] = {coverage[i].samples.load(), coverage[i].pixels.load()};
  image.touching = touching_pairs(rows);
  if (settings.keep_objects) image.objects = std::move(rows);
  progress.finish();
  return image;
}

}  // namespace refhost
