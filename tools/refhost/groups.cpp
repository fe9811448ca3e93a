#include "tools/refhost/groups.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace refhost {

using common::ciede2000;
using common::hex_colour;
using common::Lab;
using common::lab_of;

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

}  // namespace

Groups find_groups(const std::vector<ObjectColour>& objects) {
  if (objects.empty()) return {};
  return {group_by<CollisionGroup>(
              objects, [](const ObjectColour& o) { return o.seeds; }),
          group_by<ColourGroup>(objects, [](const ObjectColour& o) {
            return hex_colour(o.rgb());
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
    labs.push_back(lab_of(objects[i].rgb()));
    hexes.push_back(hex_colour(objects[i].rgb()));
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

}  // namespace refhost
