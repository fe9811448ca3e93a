// The renderer's samples per pixel. Where every sample weighs the same, a
// pixel's coverages are whole numbers of samples, which is what parts the
// colours that the pixel alone cannot: a manifest may say the number, and
// the image's own coverages tell it otherwise.
#pragma once

#include <cstddef>
#include <vector>

#include "tools/matte/precision.h"

namespace matte {

struct SampleCount {
  // Unknown: no number up to `most_told` fits; too few: too few partly
  // covered pixels to tell.
  enum class From { kUnknown, kTooFew, kManifest, kImage };
  int samples = 0;  // 0: unknown
  From from = From::kUnknown;
  int manifest_said = 0;  // the manifest's number, where the image refutes it
  int most_told = 0;      // the most samples the image's precision tells
};

// A coverage that the image decides, and how exactly: the value and the
// half-width of what it may be.
struct Measured {
  double value;
  double half;
};

// The fewest samples per pixel, up to `most`, on whose multiples nearly all
// of `coverages` lie (at least 98 % of those that can tell): 0 where none
// does (samples weighted by a filter, or a number that varies from pixel to
// pixel as with adaptive sampling), or too few coverages tell.
SampleCount infer_samples(const std::vector<Measured>& coverages,
                          int most = 4096);

// Whether nearly all of `coverages` lie on multiples of 1/`samples`, or too
// few can tell.
bool samples_fit(const std::vector<Measured>& coverages, int samples);

// The samples per pixel of an image: `said` (a manifest's, 0 for none),
// unless the alpha of its partly covered pixels refutes it; else what that
// alpha tells.
SampleCount samples_of(const Precision& precision, int said);

}  // namespace matte
