#include "tools/refhost/render.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "tools/refhost/progress.h"

namespace refhost {

std::uint8_t linear_byte(double value) {
  const double clamped = std::clamp(value, 0.0, 1.0);
  return static_cast<std::uint8_t>(clamped * 255.0 + 0.5);
}

namespace {

// x^(1/5) by Newton's method from a guess, in +, -, * and / alone.
double fifth_root(double x) {
  double r = x < 1 ? 0.5 + x / 2 : 1;
  for (int i = 0; i < 60; ++i)
    r -= (r * r * r * r * r - x) / (5 * r * r * r * r);
  return r;
}

// The sRGB curve's inverse: the linear value of an encoded one.
double srgb_decode(double encoded) {
  if (encoded <= 0.04045) return encoded / 12.92;
  const double y = (encoded + 0.055) / 1.055;
  const double y2 = y * y;
  return y2 * fifth_root(y2);  // y^2.4 = y^2 * (y^2)^(1/5)
}

// The linear values halfway between neighbouring 8-bit codes: a value maps to
// the number of boundaries below it.
struct SrgbBoundaries {
  double at[255];
  SrgbBoundaries() {
    for (int b = 0; b < 255; ++b) at[b] = srgb_decode((b + 0.5) / 255.0);
  }
};

}  // namespace

std::uint8_t srgb_byte(double linear) {
  static const SrgbBoundaries boundaries;
  return static_cast<std::uint8_t>(
      std::upper_bound(boundaries.at, boundaries.at + 255, linear) -
      boundaries.at);
}

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

// The objects of each pixel of a row: for each pixel, their number, then
// their indices.
using RowObjects = std::vector<std::uint32_t>;

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
    for (int i = 0; i < objects.count; ++i) {
      row.push_back(static_cast<std::uint32_t>(objects.hits[i].first));
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

// The objects of each pixel, as views into the rows.
struct PixelView {
  const std::uint32_t* first;
  std::uint32_t count;
};

std::vector<PixelView> pixels_of(const RowObjects& row) {
  std::vector<PixelView> pixels;
  for (std::size_t at = 0; at < row.size(); at += 1 + row[at])
    pixels.push_back({&row[at + 1], row[at]});
  return pixels;
}

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
  auto work = [&] {
    for (int y; (y = next_row.fetch_add(1)) < settings.height;) {
      render_row(tracer, settings, shade, y, image, coverage, rows[y]);
      progress.advance();
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < settings.threads; ++t) helpers.emplace_back(work);
  work();
  for (auto& helper : helpers) helper.join();
  image.coverage.resize(coverage.size());
  for (std::size_t i = 0; i < coverage.size(); ++i)
    image.coverage[i] = {coverage[i].samples.load(), coverage[i].pixels.load()};
  image.touching = touching_pairs(rows);
  progress.finish();
  return image;
}

}  // namespace refhost
