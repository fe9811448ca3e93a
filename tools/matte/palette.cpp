#include "tools/matte/palette.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_set>

#include "tools/common/colour.h"
#include "tools/common/errors.h"
#include "tools/matte/mix_search.h"
#include "tools/matte/precision.h"
#include "tools/matte/samples.h"

namespace matte {

using common::Failure;

namespace {

std::uint32_t float_bits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

std::string hex_of(const Colour& c) {
  return common::hex_colour({static_cast<float>(c[0]), static_cast<float>(c[1]),
                             static_cast<float>(c[2])});
}

// The grid that lookups within a radius go through: cells of 1/64 of the
// unit cube, so that a lookup within a pixel's precision visits one to
// eight of them; a colour far outside [0, 1] shares the outermost cells.
constexpr double kCell = 1.0 / 64;
constexpr std::int64_t kCellReach = 1 << 20;
// Lookups that would visit more cells than this go through every entry.
constexpr std::int64_t kMostCells = 512;

std::int64_t cell_index(double value) {
  const double cell = std::floor(value / kCell);
  return static_cast<std::int64_t>(std::clamp(
      cell, static_cast<double>(-kCellReach), static_cast<double>(kCellReach)));
}

std::uint64_t cell_key(std::int64_t x, std::int64_t y, std::int64_t z) {
  const auto part = [](std::int64_t v) {
    return static_cast<std::uint64_t>(v + kCellReach);
  };
  return part(x) | part(y) << 21 | part(z) << 42;
}

bool within(const Colour& a, const Colour& b, const Colour& radius) {
  for (int c = 0; c < 3; ++c)
    if (!(std::fabs(a[c] - b[c]) <= radius[c])) return false;
  return true;
}

// A pixel's linear colour, straight (as a fully covered pixel's is).
Colour colour_at(const IdImage& image, std::size_t p) {
  Colour colour;
  for (int c = 0; c < 3; ++c)
    colour[c] = image.codes.empty()
                    ? image.rgba[4 * p + c]
                    : decode_code(image, image.codes[4 * p + c]);
  return colour;
}

// How far apart two neighbouring fully covered pixels of one object lie at
// most, relative to their value: the scatter of a renderer's float sums.
// Measured where a pixel and its eight neighbours all lie within 2^-10 of
// one another, so that no edge takes part; 0 for an image of exact sums.
double neighbour_scatter(const IdImage& image) {
  constexpr double kNear = 0x1p-10;
  double scatter = 0;
  const int w = image.width, h = image.height;
  const auto full = [&](std::size_t p) {
    return fully_covered(image, p) && image.finite(p);
  };
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * w + x;
      if (!full(p)) continue;
      const Colour here = colour_at(image, p);
      double most = 0;
      bool interior = true;
      for (int dy = -1; dy <= 1 && interior; ++dy)
        for (int dx = -1; dx <= 1 && interior; ++dx) {
          const std::size_t q = p + static_cast<std::ptrdiff_t>(dy) * w + dx;
          if (q == p) continue;
          interior = full(q);
          if (!interior) break;
          const Colour there = colour_at(image, q);
          for (int c = 0; c < 3; ++c) {
            const double size =
                std::max(std::fabs(here[c]), std::fabs(there[c]));
            if (size == 0) continue;
            const double d = std::fabs(here[c] - there[c]) / size;
            interior = interior && d <= kNear;
            most = std::max(most, d);
          }
        }
      if (interior) scatter = std::max(scatter, most);
    }
  return scatter;
}

}  // namespace

bool fully_covered(const IdImage& image, std::size_t p) {
  if (!image.codes.empty()) return image.codes[4 * p + 3] == image.full_code();
  return image.rgba[4 * p + 3] == 1.0f;
}

Key pixel_key(const IdImage& image, std::size_t p) {
  Key key{};
  for (int c = 0; c < 3; ++c)
    key[c] = image.codes.empty() ? float_bits(image.rgba[4 * p + c])
                                 : image.codes[4 * p + c];
  return key;
}

Key Palette::key_of(const Colour& colour) const {
  Key key{};
  for (int c = 0; c < 3; ++c) {
    const float f = static_cast<float>(colour[c]);
    switch (image_->encoding) {
      case Encoding::kFloat:
        key[c] = float_bits(f);
        break;
      case Encoding::kHalf:
        key[c] = float_bits(to_half(f));
        break;
      default:
        key[c] = static_cast<std::uint32_t>(encode_code(*image_, colour[c]));
    }
  }
  return key;
}

std::uint64_t Palette::cell_of(const Colour& colour) const {
  return cell_key(cell_index(colour[0]), cell_index(colour[1]),
                  cell_index(colour[2]));
}

void Palette::shades_within(const Colour& colour, const Colour& radius,
                            std::vector<std::uint32_t>& found) const {
  std::int64_t low[3], high[3], cells = 1;
  for (int c = 0; c < 3; ++c) {
    low[c] = cell_index(colour[c] - radius[c]);
    high[c] = cell_index(colour[c] + radius[c]);
    cells *= high[c] - low[c] + 1;
  }
  if (cells > kMostCells || cells > static_cast<std::int64_t>(cells_.size())) {
    for (std::uint32_t e = 0; e < shades_.size(); ++e)
      if (within(shades_[e], colour, radius)) found.push_back(e);
    return;
  }
  for (std::int64_t x = low[0]; x <= high[0]; ++x)
    for (std::int64_t y = low[1]; y <= high[1]; ++y)
      for (std::int64_t z = low[2]; z <= high[2]; ++z) {
        const auto it = cells_.find(cell_key(x, y, z));
        if (it == cells_.end()) continue;
        for (std::uint32_t e : it->second)
          if (within(shades_[e], colour, radius)) found.push_back(e);
      }
}

void Palette::add(const Colour& colour, const std::string& name, bool merge) {
  const auto shade = static_cast<std::uint32_t>(shades_.size());
  std::uint32_t entry = static_cast<std::uint32_t>(entries_.size());
  if (merge) {
    const auto [it, fresh] = by_key_.try_emplace(key_of(colour), shade);
    if (!fresh) {
      entry = shade_entry_[it->second];
      entries_[entry].names.push_back(name);
      for (std::uint32_t s = it->second; s < shades_.size(); ++s)
        if (shade_entry_[s] == entry && shades_[s] == colour) return;
    }
  }
  if (entry == entries_.size())
    entries_.push_back({colour, {name}, hex_of(colour)});
  shades_.push_back(colour);
  shade_entry_.push_back(entry);
  cells_[cell_of(colour)].push_back(shade);
}

Palette Palette::from_sources(const Sources& sources, const IdImage& image) {
  Palette palette(image);
  palette.samples_ = sources.samples;
  for (const Named& object : sources.objects)
    palette.add(object.colour, object.name, true);
  // One name with two seeds is two colours of that name; where the image
  // stores them alike they are one entry, which names it once.
  for (Entry& e : palette.entries_) {
    if (e.names.size() < 2) continue;
    std::unordered_set<std::string> seen;
    e.names.erase(std::remove_if(e.names.begin(), e.names.end(),
                                 [&](const std::string& n) {
                                   return !seen.insert(n).second;
                                 }),
                  e.names.end());
  }
  return palette;
}

namespace {

// A colour of fully covered pixels being gathered: its first value, the
// sum of its pixels' values, how many, and how far they scatter.
struct Gathered {
  Colour first, sum{0, 0, 0}, low, high;
  std::size_t pixels = 0;
  std::size_t where = 0;  // its first pixel
  bool scattered = false;
};

}  // namespace

Palette Palette::from_pixels(const IdImage& image) {
  Palette palette(image);
  // Values within this of one another, relative, are one colour: a
  // renderer's sums scatter a colour that far. Summing N samples of one
  // value in float32 strays by up to N - 1 roundings of 2^-24 each, and
  // the image's partly covered pixels may tell N.
  const int samples = samples_of(Precision(image), 0).samples;
  const double scatter =
      std::max(neighbour_scatter(image), std::max(samples - 1, 0) * 0x1p-24);
  // A colour read from sums strays as far as they do, and a mix of such
  // colours, as far again.
  palette.uncertainty_ = 2 * scatter;
  const auto radius_of = [&](const Colour& c) {
    Colour r;
    for (int i = 0; i < 3; ++i)
      r[i] = scatter * std::fabs(c[i]) + 0x1p-23 * std::fabs(c[i]);
    return r;
  };
  // Colours of fully covered pixels next to one as near: gathered by a grid
  // of their first values, each pixel with its left neighbour's where that
  // is near.
  Palette gathering(image);
  std::vector<Gathered> gathered;
  std::vector<std::uint32_t> found;
  const int w = image.width, h = image.height;
  const auto full = [&](std::size_t p) {
    return fully_covered(image, p) && image.finite(p);
  };
  for (int y = 0; y < h; ++y) {
    std::int64_t left = -1;  // the colour the pixel to the left joined
    for (int x = 0; x < w; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * w + x;
      const std::int64_t before = left;
      left = -1;
      if (!full(p)) continue;
      const Colour colour = colour_at(image, p);
      const Colour radius = radius_of(colour);
      const auto joined = [&](std::size_t q) {
        return full(q) && within(colour_at(image, q), colour, radius);
      };
      if (!((x + 1 < w && joined(p + 1)) || (y + 1 < h && joined(p + w)) ||
            (x > 0 && joined(p - 1)) || (y > 0 && joined(p - w))))
        continue;
      std::int64_t at = -1;
      if (before >= 0 &&
          within(gathered[static_cast<std::size_t>(before)].first, colour,
                 radius))
        at = before;
      if (at < 0) {
        found.clear();
        gathering.shades_within(colour, radius, found);
        if (!found.empty()) at = found.front();
      }
      if (at < 0) {
        at = static_cast<std::int64_t>(gathered.size());
        gathering.add(colour, "", false);
        gathered.push_back({colour, {0, 0, 0}, colour, colour, 0, p, false});
      }
      Gathered& g = gathered[static_cast<std::size_t>(at)];
      for (int c = 0; c < 3; ++c) {
        g.sum[c] += colour[c];
        g.low[c] = std::min(g.low[c], colour[c]);
        g.high[c] = std::max(g.high[c], colour[c]);
      }
      g.scattered = g.scattered || colour != g.first;
      ++g.pixels;
      left = at;
    }
  }
  // The most common first.
  std::vector<std::uint32_t> order(gathered.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) {
    return gathered[a].pixels > gathered[b].pixels;
  });
  std::vector<Colour> colours(gathered.size());
  for (std::size_t i = 0; i < gathered.size(); ++i)
    for (int c = 0; c < 3; ++c)
      colours[i][c] =
          gathered[i].sum[c] / static_cast<double>(gathered[i].pixels);
  // Each candidate is judged against the kept ones around its place: a
  // colour that two or three of them mix is an edge where they meet, and
  // one that a few pixels hold, within two samples' share of one of them,
  // is that colour with a sliver of another, thin object.
  const Precision precision(image, palette.uncertainty_);
  const auto sliver_of = [&](std::uint32_t i, std::uint32_t j) {
    if (samples <= 0 || gathered[i].pixels > 4) return false;
    for (int c = 0; c < 3; ++c)
      if (std::fabs(colours[i][c] - colours[j][c]) > 2.0 / samples)
        return false;
    return true;
  };
  std::vector<std::int32_t> kept_at(gathered.size(), -1);
  for (std::uint32_t i : order) {
    const std::size_t p = gathered[i].where;
    const int x = static_cast<int>(p % w), y = static_cast<int>(p / w);
    std::vector<std::uint32_t> near;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
        const std::size_t q = static_cast<std::size_t>(ny) * w + nx;
        if (!full(q)) continue;
        found.clear();
        const Colour there = colour_at(image, q);
        gathering.shades_within(there, radius_of(there), found);
        for (std::uint32_t j : found)
          if (kept_at[j] >= 0 &&
              std::find(near.begin(), near.end(), j) == near.end() &&
              near.size() < 8)
            near.push_back(j);
      }
    if (std::any_of(near.begin(), near.end(),
                    [&](std::uint32_t j) { return sliver_of(i, j); }))
      continue;
    Search search(target_of(precision, p, 0), colours, 0);
    search.try_subsets(near, 2, 3, true);
    if (!search.exact().empty()) continue;
    kept_at[i] = 1;
    const Gathered& g = gathered[i];
    if (g.scattered) {
      ++palette.merged_.variants;
      for (int c = 0; c < 3; ++c)
        if (colours[i][c] != 0)
          palette.merged_.spread =
              std::max(palette.merged_.spread,
                       (g.high[c] - g.low[c]) / std::fabs(colours[i][c]));
    }
  }
  std::map<std::string, int> hexes;
  for (std::uint32_t i : order) {
    if (kept_at[i] < 0) continue;
    std::string name = hex_of(colours[i]);
    if (++hexes[name] > 1) name += "-" + std::to_string(hexes[name]);
    palette.add(colours[i], name, false);
    palette.by_key_.try_emplace(
        palette.key_of(colours[i]),
        static_cast<std::uint32_t>(palette.shades_.size() - 1));
  }
  return palette;
}

}  // namespace matte
