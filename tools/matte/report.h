// The report on standard output: for each image, what it holds, how
// exactly it tells it, how every pixel was decided, what no matte can part,
// and what was written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/matte/palette.h"
#include "tools/matte/unmix.h"

namespace matte {

struct Written {
  std::string option;  // "--out", "--cryptomatte", ...
  std::string path;
};

void report(const std::string& image_path, const IdImage& image,
            const Palette& palette, const Sources& sources,
            const Unmixed& unmixed, const std::vector<std::uint32_t>& selected,
            const std::vector<Written>& written);

// Pairs of palette entries so close that a mix of them is known to no
// better than an eighth of a pixel at the image's encoding, the lower
// entry first, in order.
std::vector<std::pair<std::uint32_t, std::uint32_t>> close_colours(
    const IdImage& image, const Palette& palette);

}  // namespace matte
