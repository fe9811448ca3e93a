// Cryptomatte: every object's coverage of every pixel, ranked, under IDs
// that every compositor's keyer finds by name. The IDs are MurmurHash3 of
// the names; the reference host writes the truth it counts from its
// samples, and the matte tool what it unmixes from a flat ID image.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/common/exr_file.h"
#include "tools/common/unzeroed.h"

namespace common {

// MurmurHash3_x86_32 of `bytes`, as published.
std::uint32_t murmur3_32(std::string_view bytes, std::uint32_t seed);

// The ID of a name: its MurmurHash3 (seed 0), with bit 23 flipped where
// the exponent bits are all 0 or all 1, so that as a float it is neither
// denormal, infinite nor NaN.
std::uint32_t cryptomatte_id(std::string_view name);
float id_float(std::uint32_t id);
std::uint32_t id_bits(float id);

// One pixel's coverages as they are gathered, an ID at most once: objects
// that share an ID (one name, or one colour) add up. Both tools' Cryptomatte
// writers gather each pixel so.
class PixelCoverage {
 public:
  void clear() { pairs_.clear(); }
  void add(std::uint32_t id, float amount);
  // Each coverage divided by `total` (counted samples made a share).
  void divide(float total) {
    for (auto& p : pairs_) p.second /= total;
  }
  std::vector<std::pair<std::uint32_t, float>>& pairs() { return pairs_; }

 private:
  std::vector<std::pair<std::uint32_t, float>> pairs_;
};

// The ranked coverage of an image, or of a band of its rows made one band
// at a time: for each pixel, `ranks` pairs of (ID, coverage), the largest
// coverage first, zero-filled. Every pixel must be set: the values start
// unwritten, so that the threads that set the rows are the first to touch
// their memory (a 4K frame of 6 ranks is 400 MB).
class RankedCoverage {
 public:
  RankedCoverage(int width, int height, int ranks);
  // Sets a pixel's coverages: (ID, coverage) pairs, an ID at most once.
  // Keeps the `ranks` largest, larger first, then the lower ID first.
  void set(std::size_t pixel,
           std::vector<std::pair<std::uint32_t, float>>& coverages);
  int width() const { return width_; }
  int height() const { return height_; }
  int ranks() const { return ranks_; }
  // Rank r of a pixel: {ID as float, coverage}.
  const float* rank(std::size_t pixel, int r) const {
    return &values_[(pixel * static_cast<std::size_t>(ranks_) + r) * 2];
  }

 private:
  int width_, height_, ranks_;
  UnzeroedVector<float> values_;
};

// A file's Cryptomatte read back: every pixel's coverages by ID, from the
// layers its header names (CryptoObject00, ViewLayer.CryptoObject00, ...;
// channels R, G, B, A or r, g, b, a), and its manifest of names and IDs.
struct CryptomatteRead {
  std::vector<std::map<std::uint32_t, float>> pixels;
  std::map<std::string, std::uint32_t> ids;
};
// Throws Failure where the file has no Cryptomatte.
CryptomatteRead read_cryptomatte(const ExrImage& image);

// The layer's name in every file: CryptoObject00, CryptoObject01, ...
inline constexpr const char* kCryptomatteLayer = "CryptoObject";

// Adds the Cryptomatte layers (two ranks a layer, RGBA each) and their
// header attributes (name, hash, conversion and the manifest: every name
// with its ID as 8 lowercase hex digits) to `picture`. A name may come more
// than once; it keeps its first ID. Where the picture is made in bands,
// `coverage` holds one band, which the picture's `fill_band` sets.
void add_cryptomatte(
    ExrPicture& picture, const RankedCoverage& coverage,
    const std::vector<std::pair<std::string, std::uint32_t>>& ids);

}  // namespace common
