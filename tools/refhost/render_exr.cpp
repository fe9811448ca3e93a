#include "tools/refhost/render_exr.h"

#include <algorithm>
#include <utility>

#include "tools/common/cryptomatte.h"
#include "tools/common/exr_file.h"

namespace refhost {

using common::add_cryptomatte;
using common::cryptomatte_id;
using common::exr_bytes;
using common::ExrPicture;
using common::PixelCoverage;
using common::RankedCoverage;

namespace {

// Each pixel's objects, by ID (objects of one name are one ID), with their
// share of the pixel's samples.
RankedCoverage coverage_of(const Image& image, const Scene& scene,
                           int samples_per_pixel, int ranks) {
  std::vector<std::uint32_t> ids;
  ids.reserve(scene.objects.size());
  for (const Object& o : scene.objects) ids.push_back(cryptomatte_id(o.name));
  RankedCoverage coverage(image.width, image.height, ranks);
  PixelCoverage pixel;
  for (int y = 0; y < image.height; ++y) {
    const std::vector<PixelView> row = pixels_of(image.objects[y]);
    for (int x = 0; x < image.width; ++x) {
      const PixelView& view = row[x];
      pixel.clear();
      for (std::uint32_t i = 0; i < view.count; ++i)
        pixel.add(ids[view.first[i]], static_cast<float>(view.samples(i)));
      pixel.divide(static_cast<float>(samples_per_pixel));
      coverage.set(static_cast<std::size_t>(y) * image.width + x,
                   pixel.pairs());
    }
  }
  return coverage;
}

}  // namespace

std::string exr_bytes(const Image& image, const std::string& manifest,
                      const Scene& scene, int samples_per_pixel, int ranks) {
  ExrPicture picture;
  picture.width = image.width;
  picture.height = image.height;
  for (int c = 0; c < 4; ++c)
    picture.channels.push_back(
        {std::string(1, "RGBA"[c]), image.premultiplied.data() + c, 4});
  picture.attributes.emplace_back("ravelTint/manifest", manifest);
  if (ranks == 0) return exr_bytes(picture);
  const RankedCoverage coverage =
      coverage_of(image, scene, samples_per_pixel, ranks);
  std::vector<std::pair<std::string, std::uint32_t>> ids;
  ids.reserve(scene.objects.size());
  for (const Object& o : scene.objects)
    ids.emplace_back(o.name, cryptomatte_id(o.name));
  add_cryptomatte(picture, coverage, ids);
  return exr_bytes(picture);
}

}  // namespace refhost
