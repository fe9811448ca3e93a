// The reference host's files: the object-ID image and the manifest. Each is
// written to a temporary file beside its destination and then renamed over
// it, so that nothing is ever left half-written.
#pragma once

#include <string>
#include <vector>

#include "tools/refhost/collisions.h"
#include "tools/refhost/render.h"
#include "tools/refhost/scene.h"

namespace refhost {

struct ManifestInput {
  const Scene& scene;
  const RenderSettings& settings;
  const std::vector<ObjectColour>& objects;
  const std::vector<CollisionGroup>& groups;
};

std::string png_bytes(const Image& image);
std::string manifest_text(const ManifestInput& input);

// "#rrggbb" of a colour's 8-bit values.
std::string hex_colour(const host::Colour& colour);

// Throws refhost::Failure naming the path when it cannot be written.
void write_atomically(const std::string& path, const std::string& bytes);

}  // namespace refhost
