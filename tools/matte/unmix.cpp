#include "tools/matte/unmix.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>

#include "tools/refhost/progress.h"
#include "tools/refhost/workers.h"

namespace matte {

namespace {

using Colour = std::array<double, 3>;

// What a pixel's mix must reproduce, and how closely. EXR pixels are
// premultiplied floats, fitted as they are; a PNG's colour is straight and
// on its transfer curve, fitted as weights that sum to one, then scaled by
// its alpha.
struct Target {
  Colour value;  // premultiplied (EXR) or straight (PNG) linear colour
  double total;  // what the coverages sum to: alpha, or 1 for a PNG
  double alpha;  // the pixel's alpha
  Colour tolerance;
  bool coded;  // a PNG: the fit is judged on its codes
  std::array<int, 3> codes{};
};

// One step of a half at `value`: 11 significant bits, and steps of 2^-24
// below 2^-14.
double half_step(double value) {
  if (value == 0) return 0x1p-24;
  int exponent = 0;
  std::frexp(value, &exponent);  // value = m 2^exponent, m in [0.5, 1)
  return std::ldexp(1.0, std::max(exponent - 11, -24));
}

Target target_of(const IdImage& image, std::size_t p) {
  Target t{};
  const float* px = &image.rgba[4 * p];
  t.alpha = px[3];
  t.coded = !image.codes.empty();
  if (t.coded) {
    t.total = 1;
    for (int c = 0; c < 3; ++c) {
      t.codes[c] = image.codes[4 * p + c];
      t.value[c] = decode_code(image, t.codes[c]);
    }
    return t;
  }
  t.total = t.alpha;
  for (int c = 0; c < 3; ++c) {
    t.value[c] = px[c];
    // A float pixel is the rounded mean of its samples; a half one keeps
    // 11 bits of it, within half a step.
    t.tolerance[c] =
        image.encoding == Encoding::kHalf ? half_step(t.value[c]) : 1e-6;
  }
  return t;
}

// How far a mix is from the pixel, in units of what the encoding can tell
// apart (a code of a PNG, a step of a half): at most 1 fits, and at most a
// half (no more than rounding) gives the pixel exactly, as the true mix
// does.
constexpr double kExact = 0.5 + 1e-3;

double misfit(const IdImage& image, const Target& t, const Colour& mix) {
  double worst = 0;
  for (int c = 0; c < 3; ++c) {
    const double off = t.coded
                           ? std::abs(encode_code(image, mix[c]) - t.codes[c])
                           : std::fabs(mix[c] - t.value[c]) / t.tolerance[c];
    worst = std::max(worst, off);
  }
  return worst;
}

// Solves the n x n system a x = b in place (n <= 3), with partial pivoting;
// false where it is singular. Colours that share a channel exactly leave
// pivots of rounding noise, judged against the matrix's largest entry.
bool solve(double a[3][3], double b[3], int n) {
  double largest = 0;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) largest = std::max(largest, std::fabs(a[r][c]));
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int r = col + 1; r < n; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (std::fabs(a[pivot][col]) <= 1e-12 * largest) return false;
    std::swap(a[col], a[pivot]);
    std::swap(b[col], b[pivot]);
    for (int r = col + 1; r < n; ++r) {
      const double f = a[r][col] / a[col][col];
      for (int k = col; k < n; ++k) a[r][k] -= f * a[col][k];
      b[r] -= f * b[col];
    }
  }
  for (int r = n - 1; r >= 0; --r) {
    for (int k = r + 1; k < n; ++k) b[r] -= a[r][k] * b[k];
    b[r] /= a[r][r];
  }
  return true;
}

// The least-squares coverages of `k` colours summing to the target's total:
// the last colour takes what the others leave, so the rest are free.
bool fit(const Colour* const* colours, int k, const Target& t,
         double coverage[4]) {
  if (k == 1) {
    coverage[0] = t.total;
    return true;
  }
  const Colour& last = *colours[k - 1];
  double d[3][3], r[3];
  for (int c = 0; c < 3; ++c) {
    r[c] = t.value[c] - t.total * last[c];
    for (int j = 0; j < k - 1; ++j) d[c][j] = (*colours[j])[c] - last[c];
  }
  double normal[3][3], right[3];
  for (int i = 0; i < k - 1; ++i) {
    right[i] = 0;
    for (int c = 0; c < 3; ++c) right[i] += d[c][i] * r[c];
    for (int j = 0; j < k - 1; ++j) {
      normal[i][j] = 0;
      for (int c = 0; c < 3; ++c) normal[i][j] += d[c][i] * d[c][j];
    }
  }
  if (!solve(normal, right, k - 1)) return false;
  double rest = t.total;
  for (int j = 0; j < k - 1; ++j) {
    coverage[j] = std::clamp(right[j], 0.0, t.total);
    rest -= coverage[j];
  }
  coverage[k - 1] = std::max(rest, 0.0);
  return true;
}

struct Trial {
  double misfit = 1e300;
  double off_grid = 1e300;  // samples from whole numbers, at worst
  bool whole = false;       // made whole samples, it still fits
  int count = 0;
  std::array<std::uint32_t, 4> entry{};
  std::array<double, 4> coverage{};
};

// The pixel's alpha as whole samples, and how far coverages are from whole
// samples: what a PNG's weights scale to, and the coverages themselves.
double coverage_scale(const Target& t) { return t.coded ? t.alpha : 1.0; }

double off_grid(const Trial& trial, const Target& t, int samples) {
  double worst = 0;
  for (int i = 0; i < trial.count; ++i) {
    const double n = trial.coverage[i] * coverage_scale(t) * samples;
    worst = std::max(worst, std::fabs(n - std::nearbyint(n)));
  }
  return worst;
}

Colour mix_colour(const Trial& trial, const std::vector<Colour>& colours) {
  Colour mix{0, 0, 0};
  for (int i = 0; i < trial.count; ++i)
    for (int c = 0; c < 3; ++c)
      mix[c] += trial.coverage[i] * colours[trial.entry[i]][c];
  return mix;
}

// How far from whole samples a mix's coverages may come out by rounding
// alone, in samples: a float pixel holds its mean to a few millionths of a
// sample (unless two colours are very close); a half one or a PNG far less.
double grid_rounding(const IdImage& image) {
  return image.encoding == Encoding::kFloat ? 1e-5 : 1e-3;
}

// The mix made whole samples, where that still fits: the largest remainders
// take the samples that rounding down leaves.
void make_whole(Trial& trial, const Target& t, int samples,
                const IdImage& image, const std::vector<Colour>& colours) {
  const double scale = coverage_scale(t);
  const double total = std::nearbyint(t.alpha * samples);
  if (std::fabs(t.alpha * samples - total) > 0.5 + 1e-9 || total <= 0) return;
  Trial whole = trial;
  double given = 0;
  std::array<double, 4> remainder{};
  for (int i = 0; i < trial.count; ++i) {
    const double n = trial.coverage[i] * scale * samples;
    whole.coverage[i] = std::floor(n);
    remainder[i] = n - whole.coverage[i];
    given += whole.coverage[i];
  }
  while (given < total) {
    int most = 0;
    for (int i = 1; i < trial.count; ++i)
      if (remainder[i] > remainder[most]) most = i;
    whole.coverage[most] += 1;
    remainder[most] = -1;
    given += 1;
  }
  if (given != total) return;
  for (int i = 0; i < trial.count; ++i)
    whole.coverage[i] = whole.coverage[i] / samples / scale;
  whole.misfit = misfit(image, t, mix_colour(whole, colours));
  whole.whole = whole.misfit <= 1;
  if (whole.whole) trial = whole;
}

// Whether `a` is the better of two mixes that fit: with the samples known,
// one that still fits made whole, then one that gives the pixel exactly,
// then the nearer to whole samples (by more than rounding), then the fewer
// colours, then the smaller residual. Two colours near each other both fit
// a mix of either, the wrong one with a share a little off whole samples;
// where every colour shares two channels (the shader's colours often do), a
// wrong pair may fit with a share of a ten-thousandth, which made whole no
// longer fits; and at half or 8-bit precision, one colour may fit a mix of
// two within a step, where the true two give the very pixel.
bool better(const Trial& a, const Trial& b, const IdImage& image, int samples) {
  if (a.whole != b.whole) return a.whole;
  if (samples > 0 && (a.misfit <= kExact) != (b.misfit <= kExact))
    return a.misfit <= kExact;
  if (std::fabs(a.off_grid - b.off_grid) > grid_rounding(image))
    return a.off_grid < b.off_grid;
  if (a.count != b.count) return a.count < b.count;
  return a.misfit < b.misfit;
}

// Fits `k` colours, calling `found` with their coverages. Colours on one
// line (or plane) mix in many ways; with the samples known, each whole
// share of the first (of the `remaining` samples) leaves fewer ways for the
// rest, down to one. The shader's colours are often so: many share two
// channels.
template <typename Found>
void fit_or_split(const Colour* const* colours, int k, const Target& t,
                  int samples, int remaining, double* coverage, Found&& found) {
  if (fit(colours, k, t, coverage)) {
    found();
    return;
  }
  if (samples <= 0 || k < 2) return;
  const double scale = coverage_scale(t);
  for (int n = 0; n <= remaining; ++n) {
    Target rest = t;
    coverage[0] = n / (static_cast<double>(samples) * scale);
    for (int c = 0; c < 3; ++c) rest.value[c] -= coverage[0] * (*colours[0])[c];
    rest.total -= coverage[0];
    if (rest.total < -1e-12) return;
    fit_or_split(colours + 1, k - 1, rest, samples, remaining - n, coverage + 1,
                 found);
  }
}

// Tries every set of `k` of the candidates: keeps the least residual in
// `nearest`, and the best that fits in `fitting`.
void try_sets(const IdImage& image, const Target& t,
              const std::vector<Colour>& colours,
              const std::vector<std::uint32_t>& candidates, int k, int samples,
              Trial& nearest, Trial& fitting) {
  const int m = static_cast<int>(candidates.size());
  int pick[4];
  for (int i = 0; i < k; ++i) pick[i] = i;
  while (true) {
    const Colour* chosen[4];
    for (int i = 0; i < k; ++i) chosen[i] = &colours[candidates[pick[i]]];
    const auto consider = [&](Trial& trial) {
      trial.count = k;
      for (int i = 0; i < k; ++i) trial.entry[i] = candidates[pick[i]];
      trial.misfit = misfit(image, t, mix_colour(trial, colours));
      trial.off_grid = samples > 0 ? off_grid(trial, t, samples) : 0;
      trial.whole = samples == 0;
      if (samples > 0 && trial.misfit <= 1)
        make_whole(trial, t, samples, image, colours);
      if (trial.misfit < nearest.misfit) nearest = trial;
      if (trial.misfit <= 1 &&
          (fitting.count == 0 || better(trial, fitting, image, samples)))
        fitting = trial;
    };
    Trial trial;
    const int total = static_cast<int>(std::nearbyint(t.alpha * samples));
    fit_or_split(chosen, k, t, samples, total, trial.coverage.data(),
                 [&] { consider(trial); });
    int i = k - 1;
    while (i >= 0 && pick[i] == m - k + i) --i;
    if (i < 0) return;
    ++pick[i];
    for (int j = i + 1; j < k; ++j) pick[j] = pick[j - 1] + 1;
  }
}

Mix mix_of(const Trial& trial, const Target& t) {
  Mix mix;
  mix.explained = trial.misfit <= 1;
  // Zero coverages are dropped; a PNG's weights become coverages.
  const double scale = coverage_scale(t);
  for (int i = 0; i < trial.count; ++i) {
    const float coverage = static_cast<float>(trial.coverage[i] * scale);
    if (coverage <= 0) continue;
    mix.entry[mix.count] = trial.entry[i];
    mix.coverage[mix.count++] = coverage;
  }
  return mix;
}

// Whether a fitting mix counts as whole samples: it still fits made whole.
// A PNG's colour, a code at best, tells too little to judge, so its mixes
// all count (and are made whole where they still fit); at 8 bits many mixes
// of a large palette fit by chance, so one is not sought further afield.
bool counts_as_whole(const Trial& trial, const IdImage& image, int samples) {
  return samples == 0 || !image.codes.empty() || trial.whole;
}

// Whether the search can stop at a mix: without samples, the fewest colours
// that fit; with them, one that counts as whole and gives the pixel
// exactly, as the true mix does.
bool ends_search(const Trial& fitting, const IdImage& image, int samples) {
  return fitting.count > 0 &&
         (samples == 0 || (counts_as_whole(fitting, image, samples) &&
                           fitting.misfit <= kExact));
}

// The mix of the best fitting trial, with what the search found of it.
Mix found_mix(const Trial& fitting, const Target& t, const IdImage& image,
              int samples) {
  Mix mix = mix_of(fitting, t);
  mix.whole = counts_as_whole(fitting, image, samples);
  mix.exact = samples == 0 || fitting.misfit <= kExact;
  return mix;
}

}  // namespace

Mix best_mix(const IdImage& image, std::size_t p,
             const std::vector<Colour>& colours,
             const std::vector<std::uint32_t>& candidates, int samples) {
  const Target t = target_of(image, p);
  Trial nearest, fitting;
  const int most = std::min<int>(4, static_cast<int>(candidates.size()));
  for (int k = 1; k <= most; ++k) {
    try_sets(image, t, colours, candidates, k, samples, nearest, fitting);
    if (ends_search(fitting, image, samples)) break;
  }
  if (fitting.count == 0) {
    Mix mix = mix_of(nearest, t);
    mix.explained = false;
    return mix;
  }
  return found_mix(fitting, t, image, samples);
}

namespace {

constexpr std::int32_t kNone = -1;
using Codes = refhost::UnzeroedVector<std::int32_t>;
// Neighbourhoods searched for candidates, and how many each may give.
constexpr int kRadii[] = {2, 4};
constexpr std::size_t kMostCandidates = 8;

// The distinct entries of the fully covered pixels within `radius` of
// (x, y), nearest first.
std::vector<std::uint32_t> candidates_near(const IdImage& image,
                                           const Codes& pure, int x, int y,
                                           int radius) {
  std::vector<std::uint32_t> found;
  for (int ring = 1; ring <= radius && found.size() < kMostCandidates; ++ring)
    for (int dy = -ring; dy <= ring; ++dy)
      for (int dx = -ring; dx <= ring; ++dx) {
        if (std::max(std::abs(dx), std::abs(dy)) != ring) continue;
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height)
          continue;
        const std::int32_t e =
            pure[static_cast<std::size_t>(ny) * image.width + nx];
        if (e >= 0 &&
            std::find(found.begin(), found.end(),
                      static_cast<std::uint32_t>(e)) == found.end() &&
            found.size() < kMostCandidates)
          found.push_back(static_cast<std::uint32_t>(e));
      }
  return found;
}

// A pixel whose neighbours cannot explain it, tried with each palette colour
// beside none, one or two of the colours near it or in its best mix so far,
// then, where that settles nothing, three: a thin object may have no fully
// covered pixel anywhere near.
Mix with_whole_palette(const IdImage& image, std::size_t p,
                       const std::vector<Colour>& colours,
                       const std::vector<std::uint32_t>& near, const Mix& best,
                       int samples) {
  std::vector<std::uint32_t> pool(best.entry.begin(),
                                  best.entry.begin() + best.count);
  for (std::uint32_t e : near)
    if (pool.size() < 5 && std::find(pool.begin(), pool.end(), e) == pool.end())
      pool.push_back(e);
  std::vector<std::vector<std::uint32_t>> beside = {{}}, beside_three;
  for (std::size_t i = 0; i < pool.size(); ++i) {
    beside.push_back({pool[i]});
    for (std::size_t j = i + 1; j < pool.size(); ++j) {
      beside.push_back({pool[i], pool[j]});
      for (std::size_t k = j + 1; k < pool.size(); ++k)
        beside_three.push_back({pool[i], pool[j], pool[k]});
    }
  }
  const Target t = target_of(image, p);
  Trial nearest, fitting;
  std::vector<std::uint32_t> set;
  for (const auto* sets : {&beside, &beside_three}) {
    if (ends_search(fitting, image, samples)) break;
    for (std::uint32_t e = 0; e < colours.size(); ++e)
      for (const auto& others : *sets) {
        if (std::find(others.begin(), others.end(), e) != others.end())
          continue;
        set = others;
        set.push_back(e);
        try_sets(image, t, colours, set, static_cast<int>(set.size()), samples,
                 nearest, fitting);
      }
  }
  if (fitting.count == 0) return best;
  const Mix mix = found_mix(fitting, t, image, samples);
  // Better than what the neighbours gave only if it settles the pixel, or
  // fits where that did not.
  return mix.settled() || !best.explained ? mix : best;
}

}  // namespace

namespace {

// A second look at the pixels that no mix settled, or none gave exactly:
// the colours that the mixes around them found (a thin object is found
// along its edge once, then passed on) join the candidates. Pixels that no
// neighbour of theirs saw anything new for keep what they have.
void settle_from_neighbours(const IdImage& image,
                            const std::vector<Colour>& colours, int samples,
                            Unmixed& result) {
  constexpr int kReach = 2;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * image.width + x;
      if (result.codes[p] > Unmixed::kMixed) continue;
      Mix& mix = result.mixes[static_cast<std::size_t>(Unmixed::kMixed -
                                                       result.codes[p])];
      if ((mix.settled() && mix.exact) || image.rgba[4 * p + 3] == 0) continue;
      std::vector<std::uint32_t> around;
      for (int dy = -kReach; dy <= kReach; ++dy)
        for (int dx = -kReach; dx <= kReach; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height)
            continue;
          const Mix near =
              result.at(static_cast<std::size_t>(ny) * image.width + nx);
          for (int i = 0; i < near.count; ++i)
            if (std::find(around.begin(), around.end(), near.entry[i]) ==
                around.end())
              around.push_back(near.entry[i]);
        }
      if (around.size() > 10) around.resize(10);
      const Mix better = best_mix(image, p, colours, around, samples);
      if ((better.settled() && (better.exact || !mix.settled())) ||
          (better.explained && !mix.explained)) {
        result.unexplained -= !mix.explained && better.explained;
        mix = better;
      }
    }
}

// The pixels within the candidates' reach of a fully covered pixel of one
// of the `only` entries, or holding one's colour; none where an `only`
// entry has no fully covered pixel at all (it may be anywhere).
std::vector<bool> reach_of(const IdImage& image, const Codes& pure,
                           const Codes& matching,
                           const std::vector<bool>& only) {
  const std::size_t pixels = image.pixels();
  std::vector<bool> seen(only.size(), false), marked(pixels, false);
  for (std::size_t p = 0; p < pixels; ++p)
    if (pure[p] >= 0 && only[pure[p]]) seen[pure[p]] = marked[p] = true;
  for (std::size_t e = 0; e < only.size(); ++e)
    if (only[e] && !seen[e]) return {};
  // Grown by the widest neighbourhood, along rows and then columns.
  const int r = kRadii[std::size(kRadii) - 1];
  std::vector<bool> rows(pixels, false), reach(pixels, false);
  const int w = image.width, h = image.height;
  for (int y = 0; y < h; ++y)
    for (int x = 0, last = -1 - r; x < w + r; ++x) {
      if (x < w && marked[static_cast<std::size_t>(y) * w + x]) last = x;
      const int at = x - r;
      if (at >= 0 && at < w && x - last <= 2 * r)
        rows[static_cast<std::size_t>(y) * w + at] = true;
    }
  for (int x = 0; x < w; ++x)
    for (int y = 0, last = -1 - r; y < h + r; ++y) {
      if (y < h && rows[static_cast<std::size_t>(y) * w + x]) last = y;
      const int at = y - r;
      if (at >= 0 && at < h && y - last <= 2 * r)
        reach[static_cast<std::size_t>(at) * w + x] = true;
    }
  for (std::size_t p = 0; p < pixels; ++p)
    if (matching[p] >= 0 && only[matching[p]]) reach[p] = true;
  return reach;
}

}  // namespace

Unmixed unmix(const IdImage& image, const Palette& palette, int threads,
              const std::vector<bool>* only) {
  const std::size_t pixels = image.pixels();
  const int samples = palette.samples_per_pixel();
  std::vector<Colour> colours;
  for (const Entry& e : palette.entries()) colours.push_back(e.colour);
  // The entry of every fully covered pixel of one palette colour, where a
  // neighbour holds it too. A lone pixel of a palette colour may be a mix
  // that happens to equal it (at 8 bits, often): its neighbours' colours
  // are tried first.
  // Both are set whole by the threads, row by row.
  Codes matching(pixels);
  refhost::for_each_row(threads, image.height, [&](int y) {
    const std::size_t first = static_cast<std::size_t>(y) * image.width;
    for (std::size_t p = first; p < first + image.width; ++p)
      matching[p] =
          !fully_covered(image, p) ? kNone
          : p > first && pixel_key(image, p) == pixel_key(image, p - 1)
              ? matching[p - 1]
              : palette.find(pixel_key(image, p));
  });
  Codes pure(pixels);
  refhost::for_each_row(threads, image.height, [&](int y) {
    for (int x = 0; x < image.width; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * image.width + x;
      pure[p] = kNone;
      if (matching[p] == kNone) continue;
      const bool joined =
          (x > 0 && matching[p - 1] == matching[p]) ||
          (x + 1 < image.width && matching[p + 1] == matching[p]) ||
          (y > 0 && matching[p - image.width] == matching[p]) ||
          (y + 1 < image.height && matching[p + image.width] == matching[p]);
      if (joined) pure[p] = matching[p];
    }
  });

  const std::vector<bool> reach =
      only ? reach_of(image, pure, matching, *only) : std::vector<bool>();
  Unmixed result;
  result.codes = std::move(pure);  // read by every thread, so left as it is
  // Each row's mixes, numbered within the row until all rows are done; a
  // mixed pixel's number goes where its matching entry was, which nothing
  // reads after the pixel itself.
  Codes& mix_codes = matching;
  std::vector<std::vector<Mix>> row_mixes(
      static_cast<std::size_t>(image.height));
  std::atomic<int> next_row{0};
  std::atomic<std::size_t> mixed{0}, unexplained{0};
  refhost::Progress progress("unmixing", image.height);
  refhost::run_on_threads(
      threads,
      [&] {
        std::size_t row_mixed = 0, row_unexplained = 0;
        for (int y; (y = next_row.fetch_add(1)) < image.height;) {
          std::vector<Mix>& row = row_mixes[static_cast<std::size_t>(y)];
          for (int x = 0; x < image.width; ++x) {
            const std::size_t p = static_cast<std::size_t>(y) * image.width + x;
            if (result.codes[p] != kNone || (!reach.empty() && !reach[p]))
              continue;
            const float* px = &image.rgba[4 * p];
            Mix mix;
            if (px[3] == 0) {  // nothing covers it
              mix.explained = !image.codes.empty() ||
                              (px[0] == 0 && px[1] == 0 && px[2] == 0);
              if (mix.explained) continue;
              ++row_unexplained;
            } else {
              ++row_mixed;
              std::vector<std::uint32_t> near;
              for (int radius : kRadii) {
                near = candidates_near(image, result.codes, x, y, radius);
                mix = best_mix(image, p, colours, near, samples);
                if (mix.settled()) break;
              }
              if (!mix.settled() && matching[p] != kNone) {
                near.push_back(static_cast<std::uint32_t>(matching[p]));
                const Mix with_own = best_mix(image, p, colours, near, samples);
                if (with_own.settled() || !mix.explained) mix = with_own;
                near.pop_back();
              }
              if (!mix.settled())
                mix = with_whole_palette(image, p, colours, near, mix, samples);
              row_unexplained += !mix.explained;
            }
            mix_codes[p] =
                Unmixed::kMixed - static_cast<std::int32_t>(row.size());
            row.push_back(mix);
          }
          progress.advance();
        }
        mixed += row_mixed;
        unexplained += row_unexplained;
      },
      [&] { next_row = image.height; });
  // The rows' mixes in one list, and each mixed pixel's number in it.
  std::vector<std::int32_t> offsets;
  for (std::vector<Mix>& row : row_mixes) {
    offsets.push_back(static_cast<std::int32_t>(result.mixes.size()));
    result.mixes.insert(result.mixes.end(), row.begin(), row.end());
    std::vector<Mix>().swap(row);
  }
  refhost::for_each_row(threads, image.height, [&](int y) {
    const std::size_t first = static_cast<std::size_t>(y) * image.width;
    for (std::size_t p = first; p < first + image.width; ++p)
      if (mix_codes[p] <= Unmixed::kMixed)
        result.codes[p] = mix_codes[p] - offsets[static_cast<std::size_t>(y)];
  });
  progress.finish();
  result.mixed = mixed;
  result.unexplained = unexplained;
  result.partial = !reach.empty();
  settle_from_neighbours(image, colours, samples, result);
  return result;
}

}  // namespace matte
