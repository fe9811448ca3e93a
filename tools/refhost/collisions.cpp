#include "tools/refhost/collisions.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "tools/refhost/colour_difference.h"
#include "tools/refhost/progress.h"
#include "tools/refhost/render.h"

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

std::string hex_colour(const host::Colour& colour) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", srgb_byte(colour.red),
                srgb_byte(colour.green), srgb_byte(colour.blue));
  return hex;
}

bool is_grey(const std::vector<std::int32_t>& seeds) {
  for (std::int32_t seed : seeds)
    if (seed != seeds.front()) return false;
  return true;
}

std::vector<ClosePair> find_close_pairs(
    const std::vector<ObjectColour>& objects,
    const std::vector<Coverage>& coverage, const Touching& touching,
    double threshold) {
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
  std::vector<ClosePair> pairs;
  auto consider = [&](std::size_t a, std::size_t b) {
    if (hexes[a] == hexes[b]) return;
    const double d = ciede2000(labs[a], labs[b]);
    if (d < threshold)
      pairs.push_back({std::min(a, b), std::max(a, b), d,
                       touch(std::min(a, b), std::max(a, b))});
  };
  if (visible.size() <= kCloseSearchObjects) {
    // CIEDE2000 is at least |L1 - L2| / 1.75 (its lightness weight is at
    // most 1.75), so only objects that near in lightness need comparing.
    std::sort(
        visible.begin(), visible.end(), [&](std::size_t a, std::size_t b) {
          return labs[a][0] < labs[b][0] || (labs[a][0] == labs[b][0] && a < b);
        });
    for (std::size_t i = 0; i < visible.size(); ++i)
      for (std::size_t j = i + 1;
           j < visible.size() &&
           labs[visible[j]][0] - labs[visible[i]][0] <= 1.75 * threshold;
           ++j)
        consider(visible[i], visible[j]);
  } else {
    for (const auto& [a, b] : touching) consider(a, b);
  }
  std::sort(pairs.begin(), pairs.end(),
            [](const ClosePair& x, const ClosePair& y) {
              return std::make_pair(x.first, x.second) <
                     std::make_pair(y.first, y.second);
            });
  return pairs;
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
  for (const auto& [a, b] : touching) {
    const double d =
        ciede2000(lab_of(objects[a].colour), lab_of(objects[b].colour));
    score.touching_close += d < threshold;
    score.smallest_touching = std::min(score.smallest_touching, d);
  }
  return score;
}

SeedChoice search_seed(const Shader& shader, Database& database,
                       std::int32_t first, int count, const Touching& touching,
                       double threshold) {
  SeedChoice best{first, {}};
  Progress progress("searching seeds", count);
  for (int n = 0; n < count; ++n) {
    const std::int32_t seed = nth_seed(first, n);
    database.set_seed(seed);
    const auto objects = probe_objects(shader, database.size());
    const SeedScore score =
        score_of(objects, find_groups(objects), touching, threshold);
    if (n == 0 || score < best.score) best = {seed, score};
    progress.advance();
  }
  progress.finish();
  database.set_seed(first);
  return best;
}

}  // namespace refhost
