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

// A warning on standard error where most covered pixels fit no colour of
// the manifests and records given: most likely they belong to another
// render (another seed, another scene), and every matte would be empty.
void warn_if_mostly_unexplained(const std::string& image_path,
                                const std::vector<std::string>& manifests,
                                const Unmixed& unmixed);

}  // namespace matte
