#include "tools/matte/outputs.h"

#include <algorithm>

#include "tools/common/cryptomatte.h"
#include "tools/common/exr_file.h"
#include "tools/common/png.h"
#include "tools/common/words.h"
#include "tools/common/workers.h"

namespace matte {

namespace {

// Rows of the Cryptomatte made at a time: a multiple of the 16 rows that
// OpenEXR compresses together, and enough of them to keep every thread busy.
constexpr int kBandRows = 128;

// An entry's ID: its first name's. Objects of one colour are one entry.
std::uint32_t entry_id(const Entry& entry) {
  return common::cryptomatte_id(entry.names.front());
}

}  // namespace

std::string mask_bytes(const std::string& path, const IdImage& image,
                       const std::vector<float>& values) {
  const std::string lower = common::ascii_lower(path);
  if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".png") == 0)
    return common::png_grey16_bytes(image.width, image.height, values);
  common::ExrPicture picture;
  picture.width = image.width;
  picture.height = image.height;
  picture.windows = image.windows;
  picture.channels.push_back({"A", values.data(), 1});
  return common::exr_bytes(picture);
}

std::vector<float> matte_of(const Unmixed& unmixed,
                            const std::vector<bool>& chosen) {
  std::vector<float> matte(unmixed.codes.size(), 0.0f);
  for (std::size_t p = 0; p < matte.size(); ++p) {
    const Reading r = unmixed.at(p).reading;
    for (int i = 0; i < r.count; ++i)
      if (chosen[r.entry[i]]) matte[p] += r.coverage[i];
  }
  return matte;
}

std::vector<float> mask_of(const Unmixed& unmixed,
                           const std::function<bool(const Mix&)>& flagged) {
  std::vector<float> mask(unmixed.codes.size(), 0.0f);
  for (std::size_t p = 0; p < mask.size(); ++p)
    mask[p] = flagged(unmixed.at(p)) ? 1.0f : 0.0f;
  return mask;
}

std::string cryptomatte_bytes(const IdImage& image, const Palette& palette,
                              const Unmixed& unmixed, int ranks, int threads,
                              const std::string& manifest) {
  const auto& entries = palette.entries();
  std::vector<std::uint32_t> entry_ids;
  entry_ids.reserve(entries.size());
  for (const Entry& e : entries) entry_ids.push_back(entry_id(e));
  // Made a band of rows at a time: the whole frame's ranks would be the
  // largest buffer of all, touched once.
  common::ExrPicture picture;
  picture.band_rows = std::min(kBandRows, image.height);
  common::RankedCoverage coverage(image.width, picture.band_rows, ranks);
  picture.fill_band = [&](int first_row, int rows) {
    common::for_each_row(threads, rows, [&](int row) {
      common::PixelCoverage pixel;
      const std::size_t first =
          static_cast<std::size_t>(first_row + row) * image.width;
      const std::size_t in_band = static_cast<std::size_t>(row) * image.width;
      for (std::size_t x = 0; x < static_cast<std::size_t>(image.width); ++x) {
        const Reading r = unmixed.at(first + x).reading;
        pixel.clear();
        for (int i = 0; i < r.count; ++i)
          pixel.add(entry_ids[r.entry[i]], r.coverage[i]);
        coverage.set(in_band + x, pixel.pairs());
      }
    });
  };
  picture.width = image.width;
  picture.height = image.height;
  picture.windows = image.windows;
  for (int c = 0; c < 4; ++c)
    picture.channels.push_back(
        {std::string(1, "RGBA"[c]), image.rgba.data() + c, 4});
  if (!manifest.empty())
    picture.attributes.emplace_back("ravelTint/manifest", manifest);
  // Every name of an entry keys the entry: objects of one colour are one.
  std::vector<std::pair<std::string, std::uint32_t>> ids;
  for (std::size_t e = 0; e < entries.size(); ++e)
    for (const std::string& name : entries[e].names)
      ids.emplace_back(name, entry_ids[e]);
  common::add_cryptomatte(picture, coverage, ids);
  return common::exr_bytes(picture);
}

}  // namespace matte
