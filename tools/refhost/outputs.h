// The reference host's files: the object-ID image, the manifest and an
// optional EXR image. All are prepared in temporary files beside their
// destinations and moved over them only once every one is complete, so that
// nothing is left half-written and the files of one run stay together.
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
  const Groups& groups;
};

std::string png_bytes(const Image& image);
std::string manifest_text(const ManifestInput& input);

// Throws UsageFailure where the build has no OpenEXR (Windows), so that
// --exr is refused before anything is rendered.
void require_exr_support();

// The OpenEXR image: RGBA as 32-bit float, premultiplied, with the manifest
// in the header attribute "ravelTint/manifest".
std::string exr_bytes(const Image& image, const std::string& manifest);

// A file to write: the option that named it, its path and its bytes.
struct OutputFile {
  std::string option;
  std::string path;
  std::string bytes;
};

// Checks the destinations before anything is rendered. An output may not be
// the scene file or another output (the files themselves are compared, not
// their names), and one that exists must be a regular file: an output never
// replaces a device, a pipe or a folder. Throws UsageFailure.
void check_outputs(const std::vector<OutputFile>& outputs,
                   const std::string& scene_path);

// Removes the temporary files that an earlier run, killed while writing,
// left beside these destinations.
void remove_stale_temporaries(const std::vector<OutputFile>& outputs);

// Writes every output to a temporary file beside its destination, then moves
// each over its destination. Throws Failure naming the path; a failure while
// writing leaves every destination as it was.
void commit_outputs(const std::vector<OutputFile>& outputs);

}  // namespace refhost
