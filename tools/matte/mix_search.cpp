#include "tools/matte/mix_search.h"

#include <algorithm>
#include <cmath>

namespace matte {

namespace {

// Sets with more mixes on whole samples within reach than this are colours
// that the pixel's precision cannot part.
constexpr int kMostVisits = 1 << 14;

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

// Householder QR of the 3 x m matrix `a` (m <= 3), applied to `b` as well:
// afterwards a's upper m x m triangle is R and b is Q^T b.
void householder(double a[3][3], double b[3], int m) {
  for (int i = 0; i < m; ++i) {
    double norm = 0;
    for (int r = i; r < 3; ++r) norm += a[r][i] * a[r][i];
    norm = std::sqrt(norm);
    if (norm == 0) continue;
    const double alpha = a[i][i] > 0 ? -norm : norm;
    double v[3] = {0, 0, 0};
    for (int r = i; r < 3; ++r) v[r] = a[r][i];
    v[i] -= alpha;
    double vv = 0;
    for (int r = i; r < 3; ++r) vv += v[r] * v[r];
    if (vv == 0) continue;
    for (int c = i; c < m; ++c) {
      double dot = 0;
      for (int r = i; r < 3; ++r) dot += v[r] * a[r][c];
      for (int r = i; r < 3; ++r) a[r][c] -= 2 * dot / vv * v[r];
    }
    double dot = 0;
    for (int r = i; r < 3; ++r) dot += v[r] * b[r];
    for (int r = i; r < 3; ++r) b[r] -= 2 * dot / vv * v[r];
  }
}

}  // namespace

Target target_of(const Precision& precision, std::size_t p, int samples) {
  Target t;
  t.straight = !precision.image().codes.empty();
  for (int c = 0; c < 3; ++c) t.channel[c] = precision.channel(p, c);
  t.alpha = precision.alpha(p);
  if (samples > 0) {
    const double low = (t.alpha.centre - t.alpha.half) * samples;
    const double high = (t.alpha.centre + t.alpha.half) * samples;
    t.total_low = std::max(1, static_cast<int>(std::ceil(low - 1e-9)));
    t.total_high = std::min(samples, static_cast<int>(std::floor(high + 1e-9)));
  }
  return t;
}

bool Reading::holds(std::uint32_t e) const {
  for (int i = 0; i < count; ++i)
    if (entry[i] == e) return true;
  return false;
}

namespace {

// Whether two readings hold the same colours, by `same_colour`, with the
// same coverages.
template <typename Same>
bool same_reading(const Reading& a, const Reading& b, Same same_colour) {
  if (a.count != b.count) return false;
  for (int i = 0; i < a.count; ++i) {
    int j = 0;
    while (j < b.count && !same_colour(b.entry[j], a.entry[i])) ++j;
    if (j == b.count || std::fabs(b.coverage[j] - a.coverage[i]) > 1e-6f)
      return false;
  }
  return true;
}

}  // namespace

bool Reading::same_as(const Reading& other) const {
  return same_reading(*this, other,
                      [](std::uint32_t a, std::uint32_t b) { return a == b; });
}

bool Reading::same_as(const Reading& other,
                      const std::vector<std::uint32_t>& group) const {
  return same_reading(*this, other, [&](std::uint32_t a, std::uint32_t b) {
    return group[a] == group[b];
  });
}

Search::Search(const Target& target, const std::vector<Colour>& colours,
               int samples, const std::vector<std::uint32_t>* group)
    : target_(target), colours_(&colours), samples_(samples), group_(group) {}

float Search::misfit_of(const double mix[3]) const {
  double worst = 0;
  for (int c = 0; c < 3; ++c)
    worst = std::max(worst, target_.channel[c].misfit(mix[c]));
  return static_cast<float>(worst);
}

void Search::consider(Reading reading) {
  if (reading.misfit < best_.misfit ||
      (reading.misfit == best_.misfit && reading.count < best_.count))
    best_ = reading;
  if (!reading.exact()) return;
  std::vector<Reading>& list = reading.whole ? whole_ : loose_;
  for (const Reading& r : list)
    if (group_ ? r.same_as(reading, *group_) : r.same_as(reading)) return;
  const auto at = std::find_if(list.begin(), list.end(), [&](const Reading& r) {
    return r.count > reading.count ||
           (r.count == reading.count && r.misfit > reading.misfit);
  });
  if (static_cast<std::size_t>(at - list.begin()) >= kKept) return;
  list.insert(at, reading);
  if (list.size() > kKept) list.pop_back();
}

const std::vector<Reading>& Search::exact() const {
  return samples_ > 0 && !whole_.empty() ? whole_ : loose_;
}

// Least squares, each channel weighted by its precision, with the
// coverages summing to the pixel's alpha (a PNG's weights to one): the last
// colour takes what the others leave. A coverage of zero or less is a
// smaller set's reading, which that set gives.
void Search::fit_continuous(const std::uint32_t* set, int k) {
  const std::vector<Colour>& colours = *colours_;
  const double total = target_.straight ? 1.0 : target_.alpha.centre;
  double x[4] = {total, 0, 0, 0};
  if (k > 1) {
    double weight[3], heaviest = 0;
    for (int c = 0; c < 3; ++c) {
      weight[c] = 1 / target_.channel[c].half;
      heaviest = std::max(heaviest, weight[c]);
    }
    const Colour& last = colours[set[k - 1]];
    double d[3][3], r[3];
    for (int c = 0; c < 3; ++c) {
      const double w = weight[c] / heaviest;
      r[c] = (target_.channel[c].centre - total * last[c]) * w;
      for (int j = 0; j < k - 1; ++j)
        d[c][j] = (colours[set[j]][c] - last[c]) * w;
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
    if (!solve(normal, right, k - 1)) return;
    double rest = total;
    for (int j = 0; j < k - 1; ++j) {
      x[j] = right[j];
      rest -= x[j];
    }
    x[k - 1] = rest;
    for (int j = 0; j < k; ++j)
      if (!(x[j] > 0)) return;
  }
  Reading reading;
  double mix[3] = {0, 0, 0};
  const double scale = target_.straight ? target_.alpha.centre : 1.0;
  for (int j = 0; j < k; ++j) {
    for (int c = 0; c < 3; ++c) mix[c] += x[j] * colours[set[j]][c];
    reading.entry[j] = set[j];
    reading.coverage[j] = static_cast<float>(x[j] * scale);
  }
  reading.count = static_cast<std::uint8_t>(k);
  reading.misfit = misfit_of(mix);
  consider(reading);
}

// Every mix of the set on whole samples, `total` in all, within the pixel's
// precision: integer points in an ellipsoid (the weighted residual's
// bound), enumerated coordinate by coordinate from its triangular factor.
// Each colour holds one sample at least; fewer is a smaller set.
void Search::enumerate_whole(const std::uint32_t* set, int k, int total) {
  const std::vector<Colour>& colours = *colours_;
  const double scale = target_.straight ? total : samples_;
  const int m = k - 1;
  const Colour& last = colours[set[m]];
  double a[3][3] = {}, y[3];
  for (int c = 0; c < 3; ++c) {
    const Span& s = target_.channel[c];
    for (int j = 0; j < m; ++j)
      a[c][j] = (colours[set[j]][c] - last[c]) / (scale * s.half);
    y[c] = (total * last[c] / scale - s.centre) / s.half;
  }
  householder(a, y, m);
  double budget = 3 * kFits * kFits;
  for (int c = m; c < 3; ++c) budget -= y[c] * y[c];
  if (budget < 0) return;
  double largest = 0;
  for (int i = 0; i < m; ++i) largest = std::max(largest, std::fabs(a[i][i]));
  int n[4] = {0, 0, 0, 0};
  int visits = 0;
  const auto leaf = [&](int used) {
    n[m] = total - used;
    double mix[3] = {0, 0, 0};
    for (int j = 0; j < k; ++j)
      for (int c = 0; c < 3; ++c) mix[c] += n[j] * colours[set[j]][c];
    for (double& v : mix) v /= scale;
    Reading reading;
    reading.count = static_cast<std::uint8_t>(k);
    reading.whole = true;
    for (int j = 0; j < k; ++j) {
      reading.entry[j] = set[j];
      reading.coverage[j] =
          static_cast<float>(static_cast<double>(n[j]) / samples_);
    }
    reading.misfit = misfit_of(mix);
    if (reading.fits()) consider(reading);
  };
  // Level i fixes n[i], the ones above it already fixed (summing to `used`).
  const auto level = [&](const auto& self, int i, double left,
                         int used) -> void {
    double z = y[i];
    for (int j = i + 1; j < m; ++j) z += a[i][j] * n[j];
    const double reach = std::sqrt(std::max(left, 0.0));
    double low = 1, high = total - used - i - 1;
    if (std::fabs(a[i][i]) > 1e-12 * largest) {
      double from = (-reach - z) / a[i][i], to = (reach - z) / a[i][i];
      if (from > to) std::swap(from, to);
      low = std::max(low, std::ceil(from));
      high = std::min(high, std::floor(to));
    }
    for (double v = low; v <= high; ++v) {
      if (++visits > kMostVisits) {
        incomplete_ = true;
        return;
      }
      n[i] = static_cast<int>(v);
      const double off = a[i][i] * v + z;
      const double rest = left - off * off;
      if (rest < -1e-9) continue;
      if (i == 0)
        leaf(used + n[i]);
      else
        self(self, i - 1, rest, used + n[i]);
      if (visits > kMostVisits) return;
    }
  };
  if (m == 0)
    leaf(0);
  else
    level(level, m - 1, budget, 0);
}

void Search::try_set(const std::uint32_t* set, int k) {
  fit_continuous(set, k);
  if (samples_ <= 0) return;
  for (int total = target_.total_low; total <= target_.total_high; ++total)
    if (total >= k) enumerate_whole(set, k, total);
}

void Search::try_subsets(const std::vector<std::uint32_t>& candidates,
                         int sizes_from, int sizes_to, bool to_first_exact) {
  const int count = static_cast<int>(candidates.size());
  for (int k = sizes_from; k <= std::min(sizes_to, count); ++k) {
    int pick[4];
    for (int i = 0; i < k; ++i) pick[i] = i;
    while (true) {
      std::uint32_t set[4];
      for (int i = 0; i < k; ++i) set[i] = candidates[pick[i]];
      try_set(set, k);
      int i = k - 1;
      while (i >= 0 && pick[i] == count - k + i) --i;
      if (i < 0) break;
      ++pick[i];
      for (int j = i + 1; j < k; ++j) pick[j] = pick[j - 1] + 1;
    }
    if (to_first_exact && (samples_ > 0 ? any_whole_exact() : !loose_.empty()))
      return;
  }
}

}  // namespace matte
