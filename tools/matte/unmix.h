// Unmixing: every pixel of a flat ID image read as the coverages of at most
// four palette colours, within the image's own precision, and said how it
// was decided: by the image alone, where one reading gives the stored
// pixel; by its neighbours, where several do; or not at all.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tools/common/unzeroed.h"
#include "tools/matte/id_image.h"
#include "tools/matte/mix_search.h"
#include "tools/matte/palette.h"
#include "tools/matte/precision.h"
#include "tools/matte/samples.h"

namespace matte {

// How a pixel's reading was decided.
enum class Decided : std::uint8_t {
  kEmpty,        // nothing covers it
  kSolid,        // one colour, whole
  kImage,        // the one reading that gives the stored pixel
  kNeighbours,   // one of several that give it, chosen by its neighbours
  kLoose,        // fits the pixel's precision, but gives it inexactly or,
                 // with the samples known, not on whole samples
  kUnexplained,  // nothing fits: the nearest reading found, as an estimate
};

struct Mix {
  Reading reading;
  Decided how = Decided::kEmpty;
};

struct Unmixed {
  // Each pixel: an entry (0 and up) that covers it whole, kNothing, or
  // kMixed - i for mixes[i].
  static constexpr std::int32_t kNothing = -1;
  static constexpr std::int32_t kMixed = -2;
  common::UnzeroedVector<std::int32_t> codes;
  std::vector<Mix> mixes;

  // Pixels by how they were decided, and what the image told of itself.
  std::array<std::size_t, 6> decided{};
  SampleCount samples;
  Accumulation accumulation;

  std::size_t count(Decided how) const {
    return decided[static_cast<std::size_t>(how)];
  }
  Mix at(std::size_t p) const {
    const std::int32_t code = codes[p];
    if (code <= kMixed) return mixes[static_cast<std::size_t>(kMixed - code)];
    Mix mix;
    if (code >= 0) {
      mix.how = Decided::kSolid;
      mix.reading.count = 1;
      mix.reading.entry[0] = static_cast<std::uint32_t>(code);
      mix.reading.coverage[0] = 1;
      mix.reading.misfit = 0;
    }
    return mix;
  }
};

// Every pixel of the image, on `threads` threads. The result is the same
// whatever the number of threads.
Unmixed unmix(const IdImage& image, const Palette& palette, int threads);

}  // namespace matte
