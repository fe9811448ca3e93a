// Objects whose seeds are all equal get identical colours in every renderer,
// whatever its generator: the collision report, and the search for a `seed`
// that leaves the fewest such groups.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/refhost/database.h"
#include "tools/refhost/shading.h"

namespace refhost {

struct CollisionGroup {
  std::vector<std::int32_t> seeds;
  std::vector<std::size_t> objects;  // two or more, in scene order
};

// Groups of objects with equal seeds, in the order of their first objects.
std::vector<CollisionGroup> collision_groups(
    const std::vector<ObjectColour>& objects);

// True when one seed serves every channel: the object is grey in every
// renderer.
bool is_grey(const std::vector<std::int32_t>& seeds);

struct SeedChoice {
  std::int32_t seed;
  std::size_t groups;
  std::size_t grouped_objects;
};

// Tries `count` seeds from `first` on (wrapping around) and returns the one
// with the fewest groups, then the fewest grouped objects, then the first.
// Leaves the database's seed at `first`.
SeedChoice search_seed(const Shader& shader, Database& database,
                       std::int32_t first, int count);

}  // namespace refhost
