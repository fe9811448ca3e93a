// The manifest: every object's name, seeds and colour, and what a
// compositor cannot tell apart, as JSON (the manifest format's document
// describes it). One writer for both modes: a render's manifest, and the
// manifest of a names file's seeds alone.
#pragma once

#include <string>
#include <vector>

#include "tools/refhost/groups.h"
#include "tools/refhost/render.h"
#include "tools/refhost/scene.h"
#include "tools/refhost/shading.h"

namespace refhost {

// The manifest's format.
inline constexpr int kManifestVersion = 2;

// What a render adds: the image, each object's colour and coverage, the
// colour groups and the close pairs.
struct RenderFacts {
  const RenderSettings& settings;
  const std::vector<Coverage>& coverage;  // by object
  const ClosePairs& close_pairs;
  double close_threshold;
  const std::string& png_name;  // the image the manifest belongs to
  const std::string& png_sha256;
};

struct ManifestInput {
  const Scene& scene;
  const std::vector<ObjectColour>& objects;
  const Groups& groups;
  // A render's manifest; where null, the manifest of the names in
  // `names_file`.
  const RenderFacts* render = nullptr;
  std::string names_file;
};

// The manifest as its file holds it, one object a line; where `compact` is
// given, also the same JSON without layout, as an EXR's header carries it,
// made in the same pass.
std::string manifest_text(const ManifestInput& input,
                          std::string* compact = nullptr);

}  // namespace refhost
