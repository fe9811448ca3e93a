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

namespace matte {

struct Entry {
  std::array<double, 3> colour;    // linear, as the shader gave it
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

class Palette {
 public:
  // From a manifest of the reference host (its JSON text); `origin` names
  // it in errors.
  static Palette from_manifest(const std::string& text,
                               const std::string& origin, const IdImage& image);
  // From the colours that fully covered pixels hold: those of two
  // neighbouring such pixels, less those that are mixes of the others.
  static Palette from_pixels(const IdImage& image);

  const std::vector<Entry>& entries() const { return entries_; }
  // The entry a fully covered pixel's colour is, or -1.
  std::int32_t find(const Key& key) const {
    const auto it = by_key_.find(key);
    return it == by_key_.end() ? -1 : static_cast<std::int32_t>(it->second);
  }
  Key key_of(const std::array<double, 3>& colour) const;
  // The renderer's samples per pixel, where the manifest gives them; 0
  // where unknown.
  int samples_per_pixel() const { return samples_; }

 private:
  explicit Palette(const IdImage& image) : image_(&image) {}
  void add(const std::array<double, 3>& colour, const std::string& name);

  const IdImage* image_;
  int samples_ = 0;
  std::vector<Entry> entries_;
  std::unordered_map<Key, std::uint32_t, KeyHash> by_key_;
};

// The key of pixel `p` of the image, read as a fully covered pixel.
Key pixel_key(const IdImage& image, std::size_t p);
// Whether every sample of pixel `p` hit an object.
bool fully_covered(const IdImage& image, std::size_t p);

}  // namespace matte
