#include "tools/matte/samples.h"

#include <algorithm>
#include <cmath>

namespace matte {

namespace {

// Coverages at least, and the share of them, that must tell.
constexpr std::size_t kEnough = 16;
constexpr double kShare = 0.98;
// A coverage tells a number of samples apart from its neighbours where its
// uncertainty is less than this many samples.
constexpr double kTells = 0.3;

struct Tally {
  std::size_t telling = 0, fitting = 0;
};

Tally tally(const std::vector<Measured>& coverages, int samples) {
  Tally t;
  for (const Measured& m : coverages) {
    const double n = m.value * samples;
    const double allowed = m.half * samples + 1e-9;
    if (allowed > kTells) continue;
    ++t.telling;
    t.fitting += std::fabs(n - std::nearbyint(n)) <= allowed;
  }
  return t;
}

}  // namespace

bool samples_fit(const std::vector<Measured>& coverages, int samples) {
  const Tally t = tally(coverages, samples);
  return t.telling < kEnough || t.fitting >= kShare * t.telling;
}

SampleCount infer_samples(const std::vector<Measured>& coverages, int most) {
  for (int n = 1; n <= most; ++n) {
    const Tally t = tally(coverages, n);
    // Beyond here, too few coverages are exact enough to tell.
    if (t.telling < kEnough || t.telling < coverages.size() / 2)
      return {0,
              n > 1 ? SampleCount::From::kUnknown : SampleCount::From::kTooFew,
              0, n - 1};
    if (t.fitting >= kShare * t.telling)
      return {n, SampleCount::From::kImage, 0, 0};
  }
  return {0, SampleCount::From::kUnknown, 0, most};
}

SampleCount samples_of(const Precision& precision, int said) {
  const IdImage& image = precision.image();
  std::vector<Measured> alphas;
  const std::size_t pixels = image.pixels();
  const std::size_t every = std::max<std::size_t>(1, pixels / 65536);
  for (std::size_t p = 0; p < pixels && alphas.size() < 4096; p += every) {
    const float a = image.rgba[4 * p + 3];
    if (a > 0 && a < 1 && std::isfinite(a)) {
      const Span s = precision.alpha(p);
      alphas.push_back({s.centre, s.half});
    }
  }
  if (said > 0 && samples_fit(alphas, said))
    return {said, SampleCount::From::kManifest, 0};
  SampleCount count = infer_samples(alphas);
  count.manifest_said = said;
  return count;
}

}  // namespace matte
