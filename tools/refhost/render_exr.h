// The render as an OpenEXR image, for compositing.
#pragma once

#include <string>

#include "tools/refhost/render.h"
#include "tools/refhost/scene.h"

namespace refhost {

// RGBA as 32-bit float, premultiplied, with the manifest in the header
// attribute "ravelTint/manifest"; with `ranks`, also every object's
// coverage of every pixel, counted from its samples, as Cryptomatte layers
// of that many ranks.
std::string exr_bytes(const Image& image, const std::string& manifest,
                      const Scene& scene, int samples_per_pixel, int ranks);

}  // namespace refhost
