// Pairs of palette colours too close for the image's encoding to part
// their mix: a pixel's coverage between them is known to no better than an
// eighth of a pixel. Only pairs with a colour the image shows matter to it,
// and the search is bounded, so that a manifest of many thousand near
// colours costs no more than a moment.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "tools/matte/palette.h"
#include "tools/matte/unmix.h"

namespace matte {

inline constexpr std::uint64_t kMostColourComparisons = 10'000'000;
inline constexpr std::size_t kClosePairsKept = 10;

struct CloseColours {
  // The first pairs found, the lower entry first, in order of entries.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> first;
  std::size_t found = 0;  // every pair found
  bool stopped = false;   // kMostColourComparisons reached: more may be close
};

// The palette entries that some pixel's reading holds.
std::vector<bool> entries_shown(const Palette& palette, const Unmixed& unmixed);

CloseColours close_colours(const IdImage& image, const Palette& palette,
                           const std::vector<bool>& shown);

}  // namespace matte
