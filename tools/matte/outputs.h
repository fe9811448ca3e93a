// What the matte tool writes of an unmixed image: a matte of the selected
// objects, masks of pixels by how they were decided, and the whole image as
// Cryptomatte layers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/matte/palette.h"
#include "tools/matte/unmix.h"

namespace matte {

// A one-channel image file of `values` (one a pixel): an EXR (channel A) or
// a 16-bit grey PNG of linear values, by the name's extension.
std::string mask_bytes(const std::string& path, const IdImage& image,
                       const std::vector<float>& values);

// Every pixel's summed coverage of the entries `chosen` flags.
std::vector<float> matte_of(const Unmixed& unmixed,
                            const std::vector<bool>& chosen);

// 1 where `flagged` holds for a pixel's mix, 0 elsewhere.
std::vector<float> mask_of(const Unmixed& unmixed,
                           const std::function<bool(const Mix&)>& flagged);

// The image's RGBA beside every entry's coverage as Cryptomatte layers of
// `ranks` ranks, under the IDs of their names; `manifest` (if any) goes in
// the header as the manifest the palette came from.
std::string cryptomatte_bytes(const IdImage& image, const Palette& palette,
                              const Unmixed& unmixed, int ranks, int threads,
                              const std::string& manifest);

}  // namespace matte
