// Unmixing: each pixel of a flat ID image explained as the coverages of at
// most four palette colours. An anti-aliased pixel is a convex mix of the
// colours of the objects its samples hit: premultiplied RGB = sum of
// coverage times colour, alpha = sum of coverages. With the colours known,
// the coverages are the least-residual non-negative solution, found first
// among the colours of the fully covered pixels around it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tools/matte/id_image.h"
#include "tools/matte/palette.h"
#include "tools/refhost/unzeroed.h"

namespace matte {

// How one pixel is explained: up to four palette entries with their
// coverages, and whether that fits the pixel within its encoding's
// precision (if not, it is the best estimate found).
struct Mix {
  std::array<std::uint32_t, 4> entry{};
  std::array<float, 4> coverage{};
  std::uint8_t count = 0;
  bool explained = true;
  // With the samples per pixel known: every coverage is whole samples. A
  // mix that fits but is not whole is kept only if nothing whole fits.
  bool whole = true;
  bool exact = true;  // gives the pixel within its encoding's rounding
  bool settled() const { return explained && whole; }
};

// The best mix for pixel `p` of some of `candidates` (indices into
// `colours`): the fewest colours that fit within the encoding's precision,
// of those the least residual; failing that, the least residual found.
// Where the renderer's samples per pixel are known (`samples` > 0), every
// true coverage is a whole number of samples, and the true mix gives the
// pixel within rounding: of the mixes that fit, one that still fits made
// whole wins, then one that gives the pixel exactly, then the nearest to
// whole samples. That parts colours that lie on one line or plane (which
// the shader's colours often do: half of all channels hold one value),
// where fewer colours would fit as well as the true ones.
Mix best_mix(const IdImage& image, std::size_t p,
             const std::vector<std::array<double, 3>>& colours,
             const std::vector<std::uint32_t>& candidates, int samples = 0);

// Every pixel's mix. Most pixels are one colour whole, so they keep only
// their entry; the others keep their mix beside.
struct Unmixed {
  // An entry (0 and up), kNothing, or kMixed - i for mixes[i].
  static constexpr std::int32_t kNothing = -1;
  static constexpr std::int32_t kMixed = -2;
  refhost::UnzeroedVector<std::int32_t> codes;
  std::vector<Mix> mixes;
  std::size_t mixed = 0;        // pixels of more than one colour, or partly
                                // covered
  std::size_t unexplained = 0;  // pixels no mix fits within precision
  bool partial = false;         // only the pixels near a selection

  Mix at(std::size_t p) const {
    const std::int32_t code = codes[p];
    if (code <= kMixed) return mixes[static_cast<std::size_t>(kMixed - code)];
    Mix mix;
    if (code >= 0) {
      mix.count = 1;
      mix.entry[0] = static_cast<std::uint32_t>(code);
      mix.coverage[0] = 1;
    }
    return mix;
  }
};

// Every pixel of the image, on `threads` threads. With `only` (a flag for
// each entry), just the pixels that can hold those entries: near a fully
// covered pixel of one, or holding one's colour; the others are left
// unmixed (kNothing, and not counted). Where one of them has no fully
// covered pixel at all (a thin object), every pixel is unmixed.
Unmixed unmix(const IdImage& image, const Palette& palette, int threads,
              const std::vector<bool>* only = nullptr);

}  // namespace matte
