// The readings of one pixel: which palette colours, at which coverages,
// give its stored value. An anti-aliased pixel is a convex mix of the
// colours of the objects its samples hit: premultiplied RGB = sum of
// coverage times colour, alpha = sum of coverages (a PNG stores the colour
// straight: weights that sum to one). Where the renderer's samples per
// pixel are known and of equal weight, every coverage is a whole number of
// samples: the search then enumerates every mix on whole samples within the
// pixel's precision, so that one that gives the pixel is found wherever it
// exists; without them it fits coverages by weighted least squares.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "tools/matte/precision.h"

namespace matte {

using Colour = std::array<double, 3>;

// What a pixel's readings must give, and how closely.
struct Target {
  std::array<Span, 3> channel;  // premultiplied (EXR) or straight (PNG)
  Span alpha;
  bool straight = false;  // a PNG: colours mix as weights summing to one
  // With the samples known: the whole numbers of samples the pixel's
  // coverages may sum to (none where its alpha lies between them).
  int total_low = 1, total_high = 0;
};

// Pixel `p` as a target, with `samples` per pixel (0: unknown).
Target target_of(const Precision& precision, std::size_t p, int samples);

// Within its span's half in every channel, a reading gives the stored
// pixel exactly, as the true mix does; within two, it fits the pixel's
// precision (a step off at most).
inline constexpr float kExact = 1 + 1e-6f;
inline constexpr float kFits = 2;

// One reading: up to four palette entries with their coverages.
struct Reading {
  std::array<std::uint32_t, 4> entry{};
  std::array<float, 4> coverage{};
  std::uint8_t count = 0;
  float misfit = std::numeric_limits<float>::infinity();
  bool whole = false;  // every coverage a whole number of samples
  bool exact() const { return misfit <= kExact; }
  bool fits() const { return misfit <= kFits; }
  bool holds(std::uint32_t e) const;
  bool same_as(const Reading& other) const;
  // The same, with colours that are one to a compositor (`group` of each)
  // taken as one.
  bool same_as(const Reading& other,
               const std::vector<std::uint32_t>& group) const;
};

class Search {
 public:
  // `group`, where given, says which colours are one to a compositor (the
  // shades of one palette entry): readings that differ only in them are
  // one reading.
  Search(const Target& target, const std::vector<Colour>& colours, int samples,
         const std::vector<std::uint32_t>* group = nullptr);

  // Tries the `k` distinct palette entries of `set` (1 to 4).
  void try_set(const std::uint32_t* set, int k);
  // Tries every set of `sizes_from` to `sizes_to` of the candidates, each
  // size whole, up to the first size at which a reading gives the pixel
  // exactly (`to_first_exact`) or through `sizes_to`.
  void try_subsets(const std::vector<std::uint32_t>& candidates, int sizes_from,
                   int sizes_to, bool to_first_exact);

  // The readings that give the pixel exactly: on whole samples where the
  // samples are known and any such exists; else those of any coverages.
  // At most kKept, the fewest colours first.
  const std::vector<Reading>& exact() const;
  bool any_whole_exact() const { return !whole_.empty(); }
  // The reading nearest the pixel, exact or not.
  const Reading& best() const { return best_; }
  // Some set had more mixes on whole samples than were tried: its
  // colours are too alike at this precision to be parted.
  bool incomplete() const { return incomplete_; }
  const Target& target() const { return target_; }
  int samples() const { return samples_; }

  static constexpr std::size_t kKept = 32;

 private:
  void fit_continuous(const std::uint32_t* set, int k);
  void enumerate_whole(const std::uint32_t* set, int k, int total);
  void consider(Reading reading);
  float misfit_of(const double mix[3]) const;

  Target target_;
  const std::vector<Colour>* colours_;
  int samples_;
  const std::vector<std::uint32_t>* group_;
  std::vector<Reading> whole_, loose_;
  Reading best_;
  bool incomplete_ = false;
};

}  // namespace matte
