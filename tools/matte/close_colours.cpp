#include "tools/matte/close_colours.h"

#include <algorithm>
#include <cmath>

#include "tools/matte/precision.h"

namespace matte {

std::vector<bool> entries_shown(const Palette& palette,
                                const Unmixed& unmixed) {
  std::vector<bool> shown(palette.entries().size(), false);
  for (std::size_t p = 0; p < unmixed.codes.size(); ++p) {
    const Reading r = unmixed.at(p).reading;
    for (int i = 0; i < r.count; ++i) shown[r.entry[i]] = true;
  }
  return shown;
}

CloseColours close_colours(const IdImage& image, const Palette& palette,
                           const std::vector<bool>& shown) {
  const Precision precision(image);
  const auto& shades = palette.shades();
  const auto reach = [&](float a, float b) {
    return 8 * precision.step(std::max(std::fabs(a), std::fabs(b)));
  };
  // At most one pair for each comparison: bounded with them.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  CloseColours close;
  std::uint64_t compared = 0;
  std::vector<std::uint32_t> found;
  for (std::uint32_t a = 0; a < shades.size() && !close.stopped; ++a) {
    const std::uint32_t ea = palette.entry_of(a);
    if (!shown[ea]) continue;
    Colour radius;
    for (int c = 0; c < 3; ++c)
      radius[c] = reach(shades[a][c], shades[a][c]) + 1e-12;
    found.clear();
    palette.shades_within(shades[a], radius, found);
    compared += found.size();
    close.stopped = compared > kMostColourComparisons;
    for (std::uint32_t b : found) {
      const std::uint32_t eb = palette.entry_of(b);
      if (ea == eb || (shown[eb] && eb < ea)) continue;  // found from eb
      bool near = true;
      for (int c = 0; c < 3; ++c)
        near = near && std::fabs(shades[a][c] - shades[b][c]) <
                           reach(shades[a][c], shades[b][c]);
      if (near) pairs.emplace_back(std::min(ea, eb), std::max(ea, eb));
    }
  }
  // An entry of several shades finds a pair more than once.
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  close.found = pairs.size();
  pairs.resize(std::min(pairs.size(), kClosePairsKept));
  close.first = std::move(pairs);
  return close;
}

}  // namespace matte
