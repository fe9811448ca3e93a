// The colours an ID image can hold, each with the names of the objects that
// have it: from a manifest, or found in the image's fully covered pixels.
// Objects of one colour cannot be told apart, so they are one entry.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/matte/id_image.h"
#include "tools/matte/sources.h"

namespace matte {

using Colour = std::array<double, 3>;

struct Entry {
  Colour colour;                   // linear, as the shader gave it
  std::vector<std::string> names;  // every object of this colour
  std::string hex;                 // "#rrggbb", as the PNG shows it
};

// A colour as the image's encoding stores it: float bits, half bits, or a
// PNG's codes. Two colours with one key are one colour to that image.
using Key = std::array<std::uint32_t, 3>;

struct KeyHash {
  std::size_t operator()(const Key& k) const {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint32_t v : k) h = (h ^ v) * 1099511628211ull;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
};

// What discovery merged: the stored values of one colour that a renderer's
// float sums scattered, and how far apart, relative to the value.
struct Merged {
  std::size_t variants = 0;  // stored values beyond one a colour
  double spread = 0;
};

class Palette {
 public:
  // From the names and colours of manifests or colour records.
  static Palette from_sources(const Sources& sources, const IdImage& image);
  // From the colours that fully covered pixels hold: those of two
  // neighbouring such pixels, with the values that a renderer's sums
  // scatter merged into one colour, less the colours that are mixes of the
  // others.
  static Palette from_pixels(const IdImage& image);

  const std::vector<Entry>& entries() const { return entries_; }
  // The colours that mixes are made of, the shades: each entry's colour,
  // and each other colour of its objects (objects whose colours the image
  // stores alike are one entry, but their colours mix apart).
  const std::vector<Colour>& shades() const { return shades_; }
  std::uint32_t entry_of(std::uint32_t shade) const {
    return shade_entry_[shade];
  }
  const std::vector<std::uint32_t>& shade_entries() const {
    return shade_entry_;
  }
  // The shade a fully covered pixel's colour is exactly, or -1.
  std::int32_t find(const Key& key) const {
    const auto it = by_key_.find(key);
    return it == by_key_.end() ? -1 : static_cast<std::int32_t>(it->second);
  }
  // Every shade within `radius` of `colour` in each channel, appended to
  // `found`.
  void shades_within(const Colour& colour, const Colour& radius,
                     std::vector<std::uint32_t>& found) const;
  // The renderer's samples per pixel, where the manifest gives them; 0
  // where unknown.
  int samples_per_pixel() const { return samples_; }
  const Merged& merged() const { return merged_; }
  // How far a colour may lie from the renderer's own, relative: 0 for a
  // manifest's; for colours found in the pixels, the error of the sums
  // they were read from.
  double uncertainty() const { return uncertainty_; }

 private:
  explicit Palette(const IdImage& image) : image_(&image) {}
  void add(const Colour& colour, const std::string& name, bool merge);
  Key key_of(const Colour& colour) const;
  std::uint64_t cell_of(const Colour& colour) const;

  const IdImage* image_;
  int samples_ = 0;
  Merged merged_;
  double uncertainty_ = 0;
  std::vector<Entry> entries_;
  std::vector<Colour> shades_;
  std::vector<std::uint32_t> shade_entry_;
  std::unordered_map<Key, std::uint32_t, KeyHash> by_key_;  // to a shade
  // Shades by a coarse grid of their colours, for lookups within a radius.
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> cells_;
};

// The key of pixel `p` of the image, read as a fully covered pixel.
Key pixel_key(const IdImage& image, std::size_t p);
// Whether every sample of pixel `p` hit an object.
bool fully_covered(const IdImage& image, std::size_t p);

}  // namespace matte
