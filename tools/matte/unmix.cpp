#include "tools/matte/unmix.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <map>
#include <unordered_set>

#include "tools/common/progress.h"
#include "tools/common/workers.h"

namespace matte {

namespace {

using Codes = common::UnzeroedVector<std::int32_t>;
constexpr std::int32_t kNone = -1;
// Neighbourhoods searched for candidates, and how many each may give.
constexpr int kRadii[] = {2, 4};
constexpr std::size_t kMostCandidates = 8;
// Sweeps over the pixels that their neighbours may yet settle or decide.
constexpr int kMostSweeps = 4;
// Lookups of the colour a mix of known colours leaves, for one pixel.
constexpr std::size_t kMostLookups = 50000;
// Sets tried against the whole palette, for one image: the last resort
// for pixels whose colours nothing near them shows.
constexpr std::size_t kPaletteBudget = 20000000;

// What every pixel's reading shares.
struct Context {
  const IdImage& image;
  const Palette& palette;
  const Precision& precision;
  int samples;
  // Half and PNG codes hold too little for one reading of every pixel:
  // several may give it, and the search looks for all of them.
  bool coarse;
  Codes& pure;      // the entry of each fully covered pixel, or kNone
  Codes& matching;  // the same before lone pixels are set apart

  const std::vector<Colour>& colours() const { return palette.shades(); }
  // The most colours a reading has where they are still told apart: four
  // on whole samples; without them a mix of four is any point of their
  // tetrahedron, looked for only where no fewer give the pixel.
  int most_colours() const { return samples > 0 ? 4 : 3; }
};

bool same_stored(const IdImage& image, std::size_t p, std::size_t q) {
  if (!image.codes.empty())
    return std::equal(&image.codes[4 * p], &image.codes[4 * p + 4],
                      &image.codes[4 * q]);
  return std::equal(&image.rgba[4 * p], &image.rgba[4 * p + 4],
                    &image.rgba[4 * q]);
}

// The entry a fully covered pixel holds: exactly, or within its precision
// (`loose`: within 2^-10 of its value, for a first look), or kNone.
std::int32_t solid_entry(const Context& ctx, std::size_t p, bool loose,
                         std::vector<std::uint32_t>& found) {
  const IdImage& image = ctx.image;
  if (!fully_covered(image, p) || !image.finite(p)) return kNone;
  const std::int32_t exact = ctx.palette.find(pixel_key(image, p));
  if (exact >= 0) return exact;
  Colour centre, radius;
  for (int c = 0; c < 3; ++c) {
    const Span s = ctx.precision.channel(p, c);
    centre[c] = s.centre;
    radius[c] =
        loose ? std::max(s.half, 0x1p-10 * std::fabs(s.centre)) : s.half;
  }
  found.clear();
  ctx.palette.shades_within(centre, radius, found);
  std::int32_t best = kNone;
  double nearest = 0;
  for (std::uint32_t e : found) {
    double off = 0;
    for (int c = 0; c < 3; ++c)
      off = std::max(off, std::fabs(ctx.colours()[e][c] - centre[c]) /
                              std::max(radius[c], 1e-300));
    if (best == kNone || off < nearest)
      best = static_cast<std::int32_t>(e), nearest = off;
  }
  return best;
}

// Every fully covered pixel's entry, row by row on every thread; a pixel
// that holds what its left neighbour holds takes its entry.
void match_solids(const Context& ctx, bool loose, int threads, Codes& out) {
  const IdImage& image = ctx.image;
  common::for_each_row(threads, image.height, [&](int y) {
    std::vector<std::uint32_t> found;
    const std::size_t first = static_cast<std::size_t>(y) * image.width;
    for (std::size_t p = first; p < first + image.width; ++p)
      out[p] =
          p > first && fully_covered(image, p) && same_stored(image, p, p - 1)
              ? out[p - 1]
              : solid_entry(ctx, p, loose, found);
  });
}

// A matched pixel counts as covered whole where a 4-neighbour holds its
// entry too: a lone pixel of a palette colour may be a mix that happens to
// give it (at 8 bits, often), and is read as a mix.
void join_solids(const Context& ctx, int threads) {
  const IdImage& image = ctx.image;
  const Codes& m = ctx.matching;
  common::for_each_row(threads, image.height, [&](int y) {
    for (int x = 0; x < image.width; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * image.width + x;
      ctx.pure[p] = kNone;
      if (m[p] == kNone) continue;
      const bool joined = (x > 0 && m[p - 1] == m[p]) ||
                          (x + 1 < image.width && m[p + 1] == m[p]) ||
                          (y > 0 && m[p - image.width] == m[p]) ||
                          (y + 1 < image.height && m[p + image.width] == m[p]);
      if (joined) ctx.pure[p] = m[p];
    }
  });
}

// The distinct entries of the fully covered pixels within `radius` of
// (x, y), nearest first, beside those already in `found`.
void candidates_near(const Context& ctx, int x, int y, int radius,
                     std::vector<std::uint32_t>& found) {
  const IdImage& image = ctx.image;
  for (int ring = 1; ring <= radius && found.size() < kMostCandidates; ++ring)
    for (int dy = -ring; dy <= ring; ++dy)
      for (int dx = -ring; dx <= ring; ++dx) {
        if (std::max(std::abs(dx), std::abs(dy)) != ring) continue;
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height)
          continue;
        const std::int32_t e =
            ctx.pure[static_cast<std::size_t>(ny) * image.width + nx];
        if (e >= 0 &&
            std::find(found.begin(), found.end(),
                      static_cast<std::uint32_t>(e)) == found.end() &&
            found.size() < kMostCandidates)
          found.push_back(static_cast<std::uint32_t>(e));
      }
}

// The readings that settle a pixel: those that give it exactly, on whole
// samples where the samples are known. Without them, a reading of k colours
// has k - 1 free coverages against three channels, and at half or 8-bit
// precision a wrong set of three gives a pixel exactly by chance often
// enough that only two colours settle it.
std::vector<Reading> settling(const Context& ctx, const Search& search) {
  if (ctx.samples > 0)
    return search.any_whole_exact() ? search.exact() : std::vector<Reading>();
  std::vector<Reading> found = search.exact();
  if (ctx.coarse)
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const Reading& r) { return r.count > 2; }),
                found.end());
  return found;
}

bool settled(const Context& ctx, const Search& search) {
  return !settling(ctx, search).empty();
}

// Tries each set once, however often the searches below offer it.
class Attempts {
 public:
  explicit Attempts(Search& search) : search_(search) {}
  void operator()(std::array<std::uint32_t, 4> set, int k) {
    std::sort(set.begin(), set.begin() + k);
    for (int i = k; i < 4; ++i) set[i] = UINT32_MAX;
    if (tried_.insert(set).second) search_.try_set(set.data(), k);
  }

 private:
  struct SetHash {
    std::size_t operator()(const std::array<std::uint32_t, 4>& s) const {
      std::uint64_t h = 1469598103934665603ull;
      for (std::uint32_t v : s) h = (h ^ v) * 1099511628211ull;
      return static_cast<std::size_t>(h ^ (h >> 29));
    }
  };
  Search& search_;
  std::unordered_set<std::array<std::uint32_t, 4>, SetHash> tried_;
};

// With the samples known, the colours a pixel's readings need but nothing
// near it shows: for each whole number of samples of some known colours,
// what the rest of the pixel must be is one colour, looked up in the palette
// within the pixel's precision.
class Implied {
 public:
  Implied(const Context& ctx, Search& search)
      : ctx_(ctx), search_(search), attempt_(search) {}

  // Every split of the pixel's samples between the `k` known colours of
  // `set` and one more; returns the lookups made.
  std::size_t beside(const std::array<std::uint32_t, 4>& set, int k) {
    const Target& t = search_.target();
    std::size_t lookups = 0;
    for (int total = t.total_low; total <= t.total_high; ++total) {
      const double scale = t.straight ? total : ctx_.samples;
      for (int c = 0; c < 3; ++c) {
        value_[c] = t.channel[c].centre * scale;
        reach_[c] = t.channel[c].half * scale;
      }
      int counts[3] = {0, 0, 0};
      lookups += splits(set, k, 0, counts, total);
    }
    return lookups;
  }
  // The lookups `beside` makes for `k` known colours.
  std::size_t cost(int k) const {
    const double n = search_.target().total_high;
    return static_cast<std::size_t>(k == 0   ? 1
                                    : k == 1 ? n
                                    : k == 2 ? n * n / 2
                                             : n * n * n / 6) +
           1;
  }

 private:
  std::size_t splits(const std::array<std::uint32_t, 4>& set, int k, int i,
                     int* counts, int left) {
    if (i == k) {
      look(set, k, counts, left);
      return 1;
    }
    std::size_t lookups = 0;
    for (int n = 1; n < left - (k - i - 1); ++n) {
      counts[i] = n;
      lookups += splits(set, k, i + 1, counts, left - n);
    }
    return lookups;
  }
  void look(const std::array<std::uint32_t, 4>& set, int k, const int* counts,
            int rest) {
    const std::vector<Colour>& colours = ctx_.colours();
    Colour colour, radius;
    for (int c = 0; c < 3; ++c) {
      double left = value_[c];
      for (int j = 0; j < k; ++j) left -= counts[j] * colours[set[j]][c];
      colour[c] = left / rest;
      radius[c] = reach_[c] / rest;
    }
    found_.clear();
    ctx_.palette.shades_within(colour, radius, found_);
    for (std::uint32_t e : found_) {
      if (std::find(set.begin(), set.begin() + k, e) != set.begin() + k)
        continue;
      std::array<std::uint32_t, 4> with = set;
      with[k] = e;
      attempt_(with, k + 1);
    }
  }

  const Context& ctx_;
  Search& search_;
  Attempts attempt_;
  Colour value_{}, reach_{};
  std::vector<std::uint32_t> found_;
};

// The colours beside some of the known ones, as many sets of them as the
// lookups allow: each alone, then pairs, then triples.
void search_implied(const Context& ctx, Search& search,
                    const std::vector<std::uint32_t>& known,
                    bool singles_only = false) {
  Implied implied(ctx, search);
  std::size_t lookups = implied.beside({}, 0);
  const std::size_t n = known.size();
  for (std::size_t a = 0; a < n; ++a) lookups += implied.beside({known[a]}, 1);
  if (singles_only) return;
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = a + 1; b < n; ++b)
      if (lookups + implied.cost(2) <= kMostLookups)
        lookups += implied.beside({known[a], known[b]}, 2);
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = a + 1; b < n; ++b)
      for (std::size_t c = b + 1; c < n; ++c)
        if (lookups + implied.cost(3) <= kMostLookups)
          lookups += implied.beside({known[a], known[b], known[c]}, 3);
}

// The palette colours that give the pixel alone, at its alpha: one
// lookup, which finds an object too thin to cover any pixel whole against
// what lies behind it (nothing, or another object).
void alone(const Context& ctx, Search& search) {
  const Target& t = search.target();
  const double scale = t.straight ? 1.0 : t.alpha.centre;
  if (!(scale > 0)) return;
  Colour colour, radius;
  for (int c = 0; c < 3; ++c) {
    colour[c] = t.channel[c].centre / scale;
    radius[c] = t.channel[c].half / scale;
  }
  std::vector<std::uint32_t> found;
  ctx.palette.shades_within(colour, radius, found);
  for (std::uint32_t e : found) search.try_set(&e, 1);
}

// The last resort, where nothing near a pixel shows its colours. With the
// samples known: at `depth` 1, every palette colour taken as known, so that
// two colours that nothing shows are found; at depth 2, every palette
// colour beside the nearest known colour, for three. Without them: every
// palette colour alone and beside each of the first known colours. Returns
// the lookups or sets it took.
std::size_t search_palette(const Context& ctx, Search& search,
                           const std::vector<std::uint32_t>& known, int depth) {
  const auto shades = static_cast<std::uint32_t>(ctx.colours().size());
  std::size_t work = 0;
  if (ctx.samples > 0) {
    Implied implied(ctx, search);
    if (depth == 1)
      for (std::uint32_t e = 0; e < shades; ++e) work += implied.beside({e}, 1);
    else if (!known.empty())
      for (std::uint32_t e = 0; e < shades; ++e)
        if (e != known[0]) work += implied.beside({known[0], e}, 2);
    return work;
  }
  if (depth > 1) return 0;
  Attempts attempt(search);
  const std::size_t beside = std::min<std::size_t>(known.size(), 4);
  for (std::uint32_t e = 0; e < shades; ++e) {
    attempt({e}, 1);
    for (std::size_t a = 0; a < beside; ++a)
      if (known[a] != e) attempt({known[a], e}, 2);
  }
  return static_cast<std::size_t>(shades) * (beside + 1);
}

// A pixel's reading as its search decided it: how sure, and the readings
// to choose from where several give the pixel.
struct Decision {
  Mix mix;
  // 3: settled; 2: several readings give it, none settles it; 1: one gives
  // it or fits its precision; 0: none.
  int rank = 0;
  std::vector<Reading> choices;
};

Decision decide(const Context& ctx, const Search& search) {
  Decision d;
  std::vector<Reading> found = settling(ctx, search);
  d.rank = found.empty() ? 0 : 3;
  if (found.empty()) found = search.exact();
  if (found.size() > 1) {
    d.mix = {found[0], Decided::kNeighbours};
    d.rank = std::max(d.rank, 2);
    d.choices = std::move(found);
  } else if (!found.empty()) {
    const bool image = d.rank == 3 && !search.incomplete();
    d.mix = {found[0], image ? Decided::kImage : Decided::kLoose};
    d.rank = std::max(d.rank, 1);
  } else {
    const Reading& best = search.best();
    d.rank = best.fits() ? 1 : 0;
    d.mix = {best, best.fits() ? Decided::kLoose : Decided::kUnexplained};
  }
  return d;
}

// Searches pixel p with `candidates`, widening them as the search needs.
void search_pixel(const Context& ctx, Search& search,
                  std::vector<std::uint32_t>& candidates) {
  const int most = ctx.most_colours();
  search.try_subsets(candidates, 1, most, !ctx.coarse);
  if (!settled(ctx, search) && ctx.samples > 0)
    search_implied(ctx, search, candidates);
  if (ctx.coarse && ctx.samples <= 0 && search.exact().empty())
    search.try_subsets(candidates, 4, 4, true);
}

// The first reading of a pixel that is not one colour whole, from the
// colours of the fully covered pixels around it.
Decision read_pixel(const Context& ctx, std::size_t p, int x, int y) {
  const IdImage& image = ctx.image;
  if (!image.finite(p))
    return {{Reading{}, Decided::kUnexplained}, 0, {}};
  const Target t = target_of(ctx.precision, p, ctx.samples);
  const float* px = &image.rgba[4 * p];
  if (t.alpha.centre + t.alpha.half <= 0 || px[3] <= 0) {
    const bool black =
        !image.codes.empty() || (px[0] == 0 && px[1] == 0 && px[2] == 0);
    return {{Reading{}, black ? Decided::kEmpty : Decided::kUnexplained},
            black ? 3 : 0,
            {}};
  }
  if (t.alpha.centre - t.alpha.half > 1)
    return {{Reading{}, Decided::kUnexplained}, 0, {}};
  Search search(t, ctx.colours(), ctx.samples, &ctx.palette.shade_entries());
  alone(ctx, search);
  std::vector<std::uint32_t> candidates;
  for (int radius : kRadii) {
    const std::size_t before = candidates.size();
    candidates_near(ctx, x, y, radius, candidates);
    if (candidates.size() == before && before > 0) continue;
    search.try_subsets(candidates, 1, ctx.most_colours(), !ctx.coarse);
    if (settled(ctx, search)) break;
  }
  const std::int32_t own = ctx.matching[p];
  if (!settled(ctx, search) && own >= 0 &&
      std::find(candidates.begin(), candidates.end(),
                static_cast<std::uint32_t>(own)) == candidates.end())
    candidates.push_back(static_cast<std::uint32_t>(own));
  if (!settled(ctx, search)) search_pixel(ctx, search, candidates);
  return decide(ctx, search);
}

// Pixels whose reading is still open: those no reading settled, with how
// sure their reading is, and those several readings give, with them; by
// pixel, in raster order.
struct Open {
  std::map<std::size_t, int> unsettled;
  std::map<std::size_t, std::vector<Reading>> choices;
};

// The coverages of pixels that their first reading decided with two
// colours, for telling the samples per pixel where alpha cannot.
std::vector<Measured> decided_coverages(const Context& ctx,
                                        const Unmixed& result) {
  std::vector<Measured> found;
  for (std::size_t i = 0; i < result.mixes.size(); ++i) {
    const Mix& m = result.mixes[i];
    if (m.how != Decided::kImage || m.reading.count != 2) continue;
    const Colour& a = ctx.colours()[m.reading.entry[0]];
    const Colour& b = ctx.colours()[m.reading.entry[1]];
    // How exactly the pixel places the share between its two colours.
    double half = 1;
    for (int c = 0; c < 3; ++c)
      if (a[c] != b[c])
        half = std::min(half, ctx.precision.step(std::max(a[c], b[c])) /
                                  std::fabs(a[c] - b[c]));
    found.push_back({m.reading.coverage[0], half});
  }
  return found;
}

}  // namespace

namespace {

// The first reading of every pixel, on every thread: its mix where it is
// not one colour whole, and what it leaves open.
void read_all(const Context& ctx, int threads, Unmixed& result, Open& open) {
  const IdImage& image = ctx.image;
  result.codes = Codes(image.pixels());
  // Each row's mixes, numbered within the row until all rows are done; a
  // mixed pixel's number goes where its matching entry was, which nothing
  // reads after the pixel itself.
  std::vector<std::vector<Mix>> row_mixes(
      static_cast<std::size_t>(image.height));
  std::vector<Open> row_open(static_cast<std::size_t>(image.height));
  std::atomic<int> next_row{0};
  // A log gets the report alone: unmixing takes seconds, not hours.
  common::Progress progress("unmixing", image.height,
                            common::Progress::Where::kTerminalOnly);
  common::run_on_threads(
      threads,
      [&] {
        for (int y; (y = next_row.fetch_add(1)) < image.height;) {
          std::vector<Mix>& row = row_mixes[static_cast<std::size_t>(y)];
          Open& row_left = row_open[static_cast<std::size_t>(y)];
          for (int x = 0; x < image.width; ++x) {
            const std::size_t p = static_cast<std::size_t>(y) * image.width + x;
            if (ctx.pure[p] >= 0) {
              result.codes[p] = ctx.pure[p];
              continue;
            }
            Decision d = read_pixel(ctx, p, x, y);
            if (d.mix.how == Decided::kEmpty) {
              result.codes[p] = Unmixed::kNothing;
              continue;
            }
            if (!d.choices.empty()) row_left.choices[p] = std::move(d.choices);
            if (d.rank < 3 && image.finite(p))
              row_left.unsettled[p] = d.rank;
            result.codes[p] =
                Unmixed::kMixed - static_cast<std::int32_t>(row.size());
            row.push_back(d.mix);
          }
          progress.advance();
        }
      },
      [&] { next_row = image.height; });
  progress.finish();
  // The rows' mixes in one list, and each mixed pixel's number in it.
  std::vector<std::int32_t> offsets;
  result.mixes.clear();
  for (std::vector<Mix>& row : row_mixes) {
    offsets.push_back(static_cast<std::int32_t>(result.mixes.size()));
    result.mixes.insert(result.mixes.end(), row.begin(), row.end());
    std::vector<Mix>().swap(row);
  }
  common::for_each_row(threads, image.height, [&](int y) {
    const std::size_t first = static_cast<std::size_t>(y) * image.width;
    for (std::size_t p = first; p < first + image.width; ++p)
      if (result.codes[p] <= Unmixed::kMixed)
        result.codes[p] -= offsets[static_cast<std::size_t>(y)];
  });
  open = {};
  for (Open& row : row_open) {
    open.unsettled.merge(row.unsettled);
    open.choices.merge(row.choices);
  }
  progress.finish();
}

Mix& mix_at(Unmixed& result, std::size_t p) {
  return result
      .mixes[static_cast<std::size_t>(Unmixed::kMixed - result.codes[p])];
}

// A pixel read as one colour whole counts as that colour only where a
// neighbour of a different stored value holds the colour too, or no mix
// gives the pixel: along an edge that runs straight across or down, a run
// of identical mixes may round to an unrelated palette colour, and then
// its neighbours, which differ from it, hold the mixed colours instead.
// Where mixes of the colours around give such a pixel, they join its
// readings, for the neighbours to choose. Pixels whose neighbours are all
// identical lie inside their colour.
void question_lone_colours(const Context& ctx, Unmixed& result, Open& open) {
  const IdImage& image = ctx.image;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * image.width + x;
      const Mix mix = result.at(p);
      if (mix.reading.count != 1 || mix.how == Decided::kNeighbours ||
          !fully_covered(image, p))
        continue;
      const std::uint32_t colour = mix.reading.entry[0];
      bool differing = false, held = false;
      std::vector<std::uint32_t> around;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height)
            continue;
          const std::size_t q = static_cast<std::size_t>(ny) * image.width + nx;
          if (q == p || same_stored(image, p, q)) continue;
          differing = true;
          const Reading near = result.at(q).reading;
          held = held || near.holds(colour);
          for (int i = 0; i < near.count; ++i)
            if (near.entry[i] != colour &&
                std::find(around.begin(), around.end(), near.entry[i]) ==
                    around.end())
              around.push_back(near.entry[i]);
        }
      if (!differing || held || around.empty()) continue;
      if (around.size() > kMostCandidates) around.resize(kMostCandidates);
      Search search(target_of(ctx.precision, p, ctx.samples), ctx.colours(),
                    ctx.samples, &ctx.palette.shade_entries());
      search.try_subsets(around, 2, ctx.most_colours(), false);
      if (ctx.samples > 0) search_implied(ctx, search, around, true);
      std::vector<Reading> choices = settling(ctx, search);
      choices.erase(
          std::remove_if(choices.begin(), choices.end(),
                         [](const Reading& r) { return r.count < 2; }),
          choices.end());
      if (choices.empty()) continue;
      Reading whole = mix.reading;
      whole.whole = ctx.samples > 0;
      whole.misfit = 0;
      for (int c = 0; c < 3; ++c)
        whole.misfit = std::max(
            whole.misfit, static_cast<float>(ctx.precision.channel(p, c).misfit(
                              ctx.colours()[colour][c])));
      choices.insert(choices.begin(), whole);
      if (choices.size() > Search::kKept) choices.resize(Search::kKept);
      if (result.codes[p] >= 0) {
        result.codes[p] =
            Unmixed::kMixed - static_cast<std::int32_t>(result.mixes.size());
        result.mixes.push_back(mix);
      }
      mix_at(result, p).how = Decided::kNeighbours;
      open.choices[p] = std::move(choices);
    }
}

// Pixels that no reading settled, looked at again with the colours their
// neighbours' readings found (a thin object is found along its edge once,
// then passed on), and, where even that settles nothing, with the whole
// palette. In raster order, one pixel after another, so that the result is
// the same on any number of threads.
void settle_from_neighbours(const Context& ctx, Unmixed& result, Open& open) {
  const IdImage& image = ctx.image;
  constexpr int kReach = 2;
  std::size_t budget = kPaletteBudget;
  std::map<std::size_t, std::vector<std::uint32_t>> seen;
  // Where most pixels fit no colour, the palette is not this image's, and
  // searching all of it for each of them would take long for nothing.
  std::size_t covered = 0;
  for (std::size_t p = 0; p < image.pixels(); ++p)
    covered += result.codes[p] != Unmixed::kNothing;
  std::size_t unfit = 0;
  for (const auto& [p, rank] : open.unsettled) unfit += rank == 0;
  const int deepest = unfit * 2 > covered ? 0 : 2;
  // Sweeps with the neighbours' colours until nothing changes, then one
  // with the whole palette, deeper each time, each followed by neighbours'
  // sweeps again.
  int depth = 0;
  for (int sweeps = 0; !open.unsettled.empty();) {
    const bool whole_palette = depth > 0 && sweeps == 0;
    bool changed = false;
    std::map<std::size_t, int> still;
    for (const auto& [p, rank] : open.unsettled) {
      const int x = static_cast<int>(p % image.width);
      const int y = static_cast<int>(p / image.width);
      std::vector<std::uint32_t> around;
      candidates_near(ctx, x, y, kReach, around);
      for (int dy = -kReach; dy <= kReach; ++dy)
        for (int dx = -kReach; dx <= kReach; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height)
            continue;
          const Mix near =
              result.at(static_cast<std::size_t>(ny) * image.width + nx);
          for (int i = 0; i < near.reading.count; ++i)
            if (std::find(around.begin(), around.end(),
                          near.reading.entry[i]) == around.end())
              around.push_back(near.reading.entry[i]);
        }
      if (around.size() > 12) around.resize(12);
      std::vector<std::uint32_t>& before = seen[p];
      if (around == before && !whole_palette) {
        still[p] = rank;
        continue;
      }
      before = around;
      Search search(target_of(ctx.precision, p, ctx.samples), ctx.colours(),
                    ctx.samples, &ctx.palette.shade_entries());
      alone(ctx, search);
      search_pixel(ctx, search, around);
      if (!settled(ctx, search) && whole_palette && budget > 0)
        budget -= std::min(budget, search_palette(ctx, search, around, depth));
      Decision found = decide(ctx, search);
      Mix& mix = mix_at(result, p);
      int now = rank;
      if (found.rank > rank || (found.rank == rank && found.mix.reading.misfit <
                                                          mix.reading.misfit)) {
        mix = found.mix;
        now = found.rank;
        changed = true;
        if (found.choices.empty())
          open.choices.erase(p);
        else
          open.choices[p] = std::move(found.choices);
      }
      if (now < 3) still[p] = now;
    }
    open.unsettled.swap(still);
    if (!changed || ++sweeps == kMostSweeps) {
      if (depth == deepest) break;
      ++depth;
      sweeps = 0;
    }
  }
}

// Among several readings that give a pixel exactly, the one its neighbours
// support: fewest colours that no neighbour of a different stored value
// holds (an identical neighbour is the same question, and supports
// nothing), then fewest colours, then coverages nearest the neighbours'.
// Sweeps repeat while any choice changes; each only ever replaces one
// exact reading with another, so a pixel the image decides never changes.
void decide_by_neighbours(const Context& ctx, Unmixed& result,
                          const Open& open) {
  const IdImage& image = ctx.image;
  // The first sweep hears only the neighbours that the image decided: the
  // others have yet to choose.
  std::vector<bool> open_pixel(image.pixels(), false);
  for (const auto& [p, choices] : open.choices) open_pixel[p] = true;
  std::vector<std::pair<std::uint32_t, float>> around;
  std::vector<const Reading*> chosen;
  for (int sweep = 0; sweep < kMostSweeps; ++sweep) {
    bool changed = false;
    chosen.clear();
    for (const auto& [p, choices] : open.choices) {
      const int x = static_cast<int>(p % image.width);
      const int y = static_cast<int>(p / image.width);
      around.clear();
      int differing = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= image.width ||
              ny >= image.height)
            continue;
          const std::size_t q = static_cast<std::size_t>(ny) * image.width + nx;
          if (same_stored(image, p, q) || (sweep == 0 && open_pixel[q]))
            continue;
          ++differing;
          const Mix near = result.at(q);
          for (int i = 0; i < near.reading.count; ++i)
            around.emplace_back(near.reading.entry[i],
                                near.reading.coverage[i]);
        }
      const auto cost = [&](const Reading& r) {
        int absent = 0, holders = 0;
        double distance = 0;
        for (int i = 0; i < r.count; ++i) {
          double sum = 0;
          int held = 0;
          for (const auto& [e, c] : around)
            if (ctx.palette.entry_of(e) == ctx.palette.entry_of(r.entry[i])) {
              ++held;
              sum += c;
            }
          absent += held == 0;
          holders += held;
          // Coverage changes smoothly across an edge: the neighbours' mean.
          distance += std::fabs(r.coverage[i] - sum / std::max(differing, 1));
        }
        return std::make_tuple(absent, static_cast<int>(r.count), -holders,
                               distance);
      };
      const Reading* best = &choices[0];
      auto best_cost = cost(*best);
      for (const Reading& r : choices) {
        const auto c = cost(r);
        if (c < best_cost) best = &r, best_cost = c;
      }
      if (sweep == 0) {
        chosen.push_back(best);
        continue;
      }
      Mix& mix = mix_at(result, p);
      if (!mix.reading.same_as(*best)) {
        mix.reading = *best;
        changed = true;
      }
    }
    std::size_t i = 0;
    for (const auto& [p, choices] : open.choices) {
      Mix& mix = mix_at(result, p);
      mix.how = Decided::kNeighbours;
      if (sweep == 0) mix.reading = *chosen[i++];
    }
    if (sweep > 0 && !changed) break;
  }
}

// Shades back to their entries, the objects a compositor keys: a reading
// of two shades of one entry holds the entry once, with both coverages.
void to_entries(const IdImage& image, const Palette& palette, int threads,
                Unmixed& result) {
  for (Mix& mix : result.mixes) {
    Reading& r = mix.reading;
    int count = 0;
    for (int i = 0; i < r.count; ++i) {
      const std::uint32_t e = palette.entry_of(r.entry[i]);
      int j = 0;
      while (j < count && r.entry[j] != e) ++j;
      if (j == count) {
        r.entry[count] = e;
        r.coverage[count++] = r.coverage[i];
      } else {
        r.coverage[j] += r.coverage[i];
      }
    }
    r.count = static_cast<std::uint8_t>(count);
  }
  common::for_each_row(threads, image.height, [&](int y) {
    const std::size_t first = static_cast<std::size_t>(y) * image.width;
    for (std::size_t p = first; p < first + image.width; ++p)
      if (result.codes[p] >= 0)
        result.codes[p] = static_cast<std::int32_t>(
            palette.entry_of(static_cast<std::uint32_t>(result.codes[p])));
  });
}

}  // namespace

Unmixed unmix(const IdImage& image, const Palette& palette, int threads) {
  const std::size_t pixels = image.pixels();
  Codes matching(pixels), pure(pixels);
  const Precision rounding(image);
  Context ctx{image, palette, rounding, 0, image.encoding != Encoding::kFloat,
              pure,  matching};
  // A first look at fully covered pixels, near their colours, tells how far
  // the renderer's sums scatter them; the second matches them within that.
  match_solids(ctx, true, threads, matching);
  Unmixed result;
  result.accumulation =
      measure_accumulation(rounding, matching.data(), palette.shades());
  const Precision precision(image, std::max(1.5 * result.accumulation.relative,
                                            palette.uncertainty()));
  Context final_ctx{image, palette, precision, 0, ctx.coarse, pure, matching};
  match_solids(final_ctx, false, threads, matching);
  join_solids(final_ctx, threads);

  result.samples = samples_of(precision, palette.samples_per_pixel());
  Open open;
  bool read = false;
  if (result.samples.samples == 0) {
    // Where alpha tells nothing (every pixel covered), the pixels that two
    // colours decide tell it: read without the samples first.
    read_all(final_ctx, threads, result, open);
    read = true;
    const SampleCount inferred =
        infer_samples(decided_coverages(final_ctx, result));
    if (inferred.samples > 0 ||
        result.samples.from == SampleCount::From::kTooFew) {
      const int said = result.samples.manifest_said;
      result.samples = inferred;
      result.samples.manifest_said = said;
      read = inferred.samples == 0;
    }
  }
  final_ctx.samples = result.samples.samples;
  if (!read) read_all(final_ctx, threads, result, open);
  question_lone_colours(final_ctx, result, open);
  settle_from_neighbours(final_ctx, result, open);
  decide_by_neighbours(final_ctx, result, open);
  to_entries(image, palette, threads, result);
  result.decided = {};
  for (std::size_t p = 0; p < pixels; ++p)
    ++result.decided[static_cast<std::size_t>(result.at(p).how)];
  return result;
}

}  // namespace matte
