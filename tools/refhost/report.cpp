#include "tools/refhost/report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "tools/refhost/progress.h"
#include "tools/refhost/render.h"
#include "tools/refhost/text.h"

namespace refhost {

namespace {

// Objects with equal keys, in groups of two or more, ordered by their first
// objects. Sorting the objects by key (and then by index) finds them in
// O(n log n) with no structure per object, whatever the scene's size.
template <typename Group, typename Key>
std::vector<Group> group_by(const std::vector<ObjectColour>& objects, Key key) {
  using Value = decltype(key(objects.front()));
  std::vector<std::pair<Value, std::size_t>> keyed;
  keyed.reserve(objects.size());
  for (std::size_t i = 0; i < objects.size(); ++i)
    keyed.emplace_back(key(objects[i]), i);
  std::sort(keyed.begin(), keyed.end());
  std::vector<Group> groups;
  for (std::size_t first = 0, last; first < keyed.size(); first = last) {
    last = first + 1;
    while (last < keyed.size() && keyed[last].first == keyed[first].first)
      ++last;
    if (last - first < 2) continue;
    Group group{keyed[first].first, {}};
    for (std::size_t i = first; i < last; ++i)
      group.objects.push_back(keyed[i].second);
    groups.push_back(std::move(group));
  }
  std::sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) {
    return a.objects.front() < b.objects.front();
  });
  return groups;
}

std::int32_t nth_seed(std::int32_t first, int n) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(first) +
                                   static_cast<std::uint32_t>(n));
}

}  // namespace

Groups find_groups(const std::vector<ObjectColour>& objects) {
  if (objects.empty()) return {};
  return {group_by<CollisionGroup>(
              objects, [](const ObjectColour& o) { return o.seeds; }),
          group_by<ColourGroup>(objects, [](const ObjectColour& o) {
            return hex_colour(o.colour);
          })};
}

bool is_grey(const std::vector<std::int32_t>& seeds) {
  for (std::int32_t seed : seeds)
    if (seed != seeds.front()) return false;
  return true;
}

namespace {

// The more severe of two close pairs: touching, then closer, then earlier.
bool more_severe(const ClosePair& a, const ClosePair& b) {
  if (a.touching != b.touching) return a.touching;
  if (a.difference != b.difference) return a.difference < b.difference;
  return std::make_pair(a.first, a.second) < std::make_pair(b.first, b.second);
}

// How many pairs the search by lightness would compare: those of visible
// objects, sorted by L*, no further apart in L* than `window`.
std::uint64_t comparisons_within(const std::vector<std::size_t>& by_lightness,
                                 const std::vector<Lab>& labs, double window) {
  std::uint64_t count = 0;
  std::size_t end = 0;
  for (std::size_t i = 0; i < by_lightness.size(); ++i) {
    end = std::max(end, i + 1);
    while (end < by_lightness.size() &&
           labs[by_lightness[end]][0] - labs[by_lightness[i]][0] <= window)
      ++end;
    count += end - i - 1;
  }
  return count;
}

}  // namespace

ClosePairs find_close_pairs(const std::vector<ObjectColour>& objects,
                            const std::vector<Coverage>& coverage,
                            const Touching& touching, double threshold) {
  std::vector<Lab> labs;
  std::vector<std::string> hexes;
  std::vector<std::size_t> visible;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    labs.push_back(lab_of(objects[i].colour));
    hexes.push_back(hex_colour(objects[i].colour));
    if (coverage[i].samples > 0) visible.push_back(i);
  }
  auto touch = [&](std::size_t a, std::size_t b) {
    return std::binary_search(touching.begin(), touching.end(),
                              std::make_pair(static_cast<std::uint32_t>(a),
                                             static_cast<std::uint32_t>(b)));
  };
  ClosePairs close;
  // The kept pairs as a heap whose top is the least severe.
  std::vector<ClosePair>& kept = close.pairs;
  auto consider = [&](std::size_t a, std::size_t b) {
    if (hexes[a] == hexes[b]) return;
    const double d = ciede2000(labs[a], labs[b]);
    if (d >= threshold) return;
    kept.push_back({std::min(a, b), std::max(a, b), d,
                    touch(std::min(a, b), std::max(a, b))});
    std::push_heap(kept.begin(), kept.end(), more_severe);
    if (kept.size() > kMaxClosePairs) {
      std::pop_heap(kept.begin(), kept.end(), more_severe);
      kept.pop_back();
      ++close.left_out;
    }
  };
  // CIEDE2000 is at least |L1 - L2| / 1.75 (its lightness weight is at most
  // 1.75), so only objects that near in lightness need comparing.
  const double window = 1.75 * threshold;
  std::sort(visible.begin(), visible.end(), [&](std::size_t a, std::size_t b) {
    return labs[a][0] < labs[b][0] || (labs[a][0] == labs[b][0] && a < b);
  });
  close.touching_only =
      comparisons_within(visible, labs, window) > kMaxComparisons;
  if (close.touching_only) {
    for (const auto& [a, b] : touching) consider(a, b);
  } else {
    for (std::size_t i = 0; i < visible.size(); ++i)
      for (std::size_t j = i + 1;
           j < visible.size() &&
           labs[visible[j]][0] - labs[visible[i]][0] <= window;
           ++j)
        consider(visible[i], visible[j]);
  }
  std::sort(kept.begin(), kept.end(),
            [](const ClosePair& x, const ClosePair& y) {
              return std::make_pair(x.first, x.second) <
                     std::make_pair(y.first, y.second);
            });
  return close;
}

bool SeedScore::operator<(const SeedScore& other) const {
  if (seed_grouped != other.seed_grouped)
    return seed_grouped < other.seed_grouped;
  if (colour_grouped != other.colour_grouped)
    return colour_grouped < other.colour_grouped;
  if (touching_close != other.touching_close)
    return touching_close < other.touching_close;
  return smallest_touching > other.smallest_touching;
}

SeedScore score_of(const std::vector<ObjectColour>& objects,
                   const Groups& groups, const Touching& touching,
                   double threshold) {
  SeedScore score{0, 0, 0, 1e9};
  for (const auto& group : groups.seeds)
    score.seed_grouped += group.objects.size();
  for (const auto& group : groups.colours)
    score.colour_grouped += group.objects.size();
  // Each object's CIELAB once, however many objects it touches.
  std::vector<Lab> labs;
  labs.reserve(objects.size());
  for (const ObjectColour& o : objects) labs.push_back(lab_of(o.colour));
  for (const auto& [a, b] : touching) {
    const double d = ciede2000(labs[a], labs[b]);
    score.touching_close += d < threshold;
    score.smallest_touching = std::min(score.smallest_touching, d);
  }
  return score;
}

SeedChoice search_seed(const Shader& shader, Database& database,
                       std::int32_t first, int count,
                       const ScoreFunction& score) {
  SeedChoice best{first, {}};
  Progress progress("searching seeds", count);
  for (int n = 0; n < count; ++n) {
    const std::int32_t seed = nth_seed(first, n);
    database.set_seed(seed);
    const SeedScore scored = score(probe_objects(shader, database.size()));
    if (n == 0 || scored < best.score) best = {seed, scored};
    progress.advance();
  }
  progress.finish();
  database.set_seed(first);
  return best;
}

}  // namespace refhost

// The report a person reads on standard output.
namespace refhost {

namespace {

// A person reads ten of anything; the rest is counted.
constexpr std::size_t kShown = 10;

void more(std::size_t shown_of, const char* noun) {
  if (shown_of > kShown)
    std::printf("    and %s more\n", count_of(shown_of - kShown, noun).c_str());
}

// The names of a group, as a person reads them: the first ten, and how many
// more (a large scene's grey group has thousands).
std::string names_of(const Scene& scene,
                     const std::vector<std::size_t>& objects) {
  std::string names;
  for (std::size_t n = 0; n < objects.size() && n < kShown; ++n)
    names += (n ? ", " : "") + quote(scene.objects[objects[n]].name);
  if (objects.size() > kShown)
    names += " and " + std::to_string(objects.size() - kShown) + " more";
  return names;
}

}  // namespace

void report_seed_groups(const Scene& scene, const Groups& groups) {
  if (groups.seeds.empty()) {
    std::printf("  no two objects share their seeds\n");
  } else {
    std::printf(
        "  %s of objects share their seeds, so they get the same colour in "
        "every renderer:\n",
        count_of(groups.seeds.size(), "group").c_str());
    for (std::size_t g = 0; g < groups.seeds.size() && g < kShown; ++g)
      std::printf("    %s%s\n",
                  names_of(scene, groups.seeds[g].objects).c_str(),
                  is_grey(groups.seeds[g].seeds) ? " (the same grey)" : "");
    more(groups.seeds.size(), "group");
  }
}

void report_groups(const Scene& scene, const Groups& groups) {
  report_seed_groups(scene, groups);
  if (groups.colours.empty()) {
    std::printf("  no two objects share a colour in this image\n");
  } else {
    std::printf("  %s of objects share a colour in this image:\n",
                count_of(groups.colours.size(), "group").c_str());
    for (std::size_t g = 0; g < groups.colours.size() && g < kShown; ++g)
      std::printf("    %s: %s\n", groups.colours[g].hex.c_str(),
                  names_of(scene, groups.colours[g].objects).c_str());
    more(groups.colours.size(), "group");
  }
}

void report_close_pairs(const Scene& scene, const ClosePairs& close,
                        double threshold) {
  const char* compared = close.touching_only
                             ? " (touching pairs only: too many to compare all)"
                             : "";
  if (close.pairs.empty()) {
    std::printf("  no two colours are closer than %g (CIEDE2000)%s\n",
                threshold, compared);
    return;
  }
  std::printf(
      "  %s of objects %s colours closer than %g (CIEDE2000)%s, too close to "
      "key apart reliably:\n",
      count_of(close.found(), "pair").c_str(),
      close.found() == 1 ? "has" : "have", threshold, compared);
  for (std::size_t i = 0; i < close.pairs.size() && i < kShown; ++i)
    std::printf("    %s and %s: %.2f%s\n",
                quote(scene.objects[close.pairs[i].first].name).c_str(),
                quote(scene.objects[close.pairs[i].second].name).c_str(),
                close.pairs[i].difference,
                close.pairs[i].touching ? ", touching" : "");
  more(close.found(), "pair");
  if (close.left_out > 0)
    std::printf(
        "    (the manifest lists %s, the touching and the closest "
        "first; %zu more are left out)\n",
        count_of(close.pairs.size(), "pair").c_str(), close.left_out);
}

void report_search(const Options& options, std::int32_t first,
                   const SeedChoice& choice) {
  const SeedScore& s = choice.score;
  std::printf(
      "searched %s from %d: seed %d leaves %s sharing seeds, %zu sharing a "
      "colour and %s closer than %g",
      count_of(static_cast<std::size_t>(options.search), "seed").c_str(), first,
      choice.seed, count_of(s.seed_grouped, "object").c_str(), s.colour_grouped,
      count_of(s.touching_close, "touching pair").c_str(), options.close);
  if (s.smallest_touching < 1e9)
    std::printf("; touching objects differ by %.2f at least",
                s.smallest_touching);
  std::printf("\n");
}

}  // namespace refhost
