#include "tools/refhost/collisions.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

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
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", to_byte(colour.red),
                to_byte(colour.green), to_byte(colour.blue));
  return hex;
}

bool is_grey(const std::vector<std::int32_t>& seeds) {
  for (std::int32_t seed : seeds)
    if (seed != seeds.front()) return false;
  return true;
}

SeedChoice search_seed(const Shader& shader, Database& database,
                       std::int32_t first, int count) {
  SeedChoice best{first, SIZE_MAX, SIZE_MAX};
  Progress progress("searching seeds", count);
  for (int n = 0; n < count; ++n) {
    const std::int32_t seed = nth_seed(first, n);
    database.set_seed(seed);
    const Groups groups = find_groups(probe_objects(shader, database.size()));
    std::size_t grouped = 0;
    for (const auto& group : groups.seeds) grouped += group.objects.size();
    for (const auto& group : groups.colours) grouped += group.objects.size();
    const std::size_t total = groups.seeds.size() + groups.colours.size();
    if (total < best.groups ||
        (total == best.groups && grouped < best.grouped_objects))
      best = {seed, total, grouped};
    progress.advance();
  }
  progress.finish();
  database.set_seed(first);
  return best;
}

}  // namespace refhost
