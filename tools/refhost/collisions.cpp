#include "tools/refhost/collisions.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace refhost {

std::vector<CollisionGroup> collision_groups(
    const std::vector<ObjectColour>& objects) {
  std::map<std::vector<std::int32_t>, std::vector<std::size_t>> by_seeds;
  for (std::size_t i = 0; i < objects.size(); ++i)
    by_seeds[objects[i].seeds].push_back(i);
  std::vector<CollisionGroup> groups;
  for (auto& [seeds, members] : by_seeds)
    if (members.size() > 1) groups.push_back({seeds, members});
  std::sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) {
    return a.objects.front() < b.objects.front();
  });
  return groups;
}

bool is_grey(const std::vector<std::int32_t>& seeds) {
  for (std::int32_t seed : seeds)
    if (seed != seeds.front()) return false;
  return true;
}

namespace {

std::int32_t nth_seed(std::int32_t first, int n) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(first) +
                                   static_cast<std::uint32_t>(n));
}

}  // namespace

SeedChoice search_seed(const Shader& shader, Database& database,
                       std::int32_t first, int count) {
  SeedChoice best{first, SIZE_MAX, SIZE_MAX};
  for (int n = 0; n < count; ++n) {
    const std::int32_t seed = nth_seed(first, n);
    database.set_seed(seed);
    const auto groups =
        collision_groups(probe_objects(shader, database.size()));
    std::size_t grouped = 0;
    for (const auto& group : groups) grouped += group.objects.size();
    if (groups.size() < best.groups ||
        (groups.size() == best.groups && grouped < best.grouped_objects))
      best = {seed, groups.size(), grouped};
  }
  database.set_seed(first);
  return best;
}

}  // namespace refhost
