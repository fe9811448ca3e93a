// Objects that a compositor cannot tell apart in the object-ID image: those
// whose seeds are all equal (identical colours in every renderer, whatever
// its generator) and those that share an 8-bit colour in this image. The
// report of both, and the search for a `seed` that leaves the fewest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/refhost/database.h"
#include "tools/refhost/shading.h"

namespace refhost {

struct CollisionGroup {
  std::vector<std::int32_t> seeds;
  std::vector<std::size_t> objects;  // two or more, in scene order
};

struct ColourGroup {
  std::string hex;
  std::vector<std::size_t> objects;  // two or more, in scene order
};

struct Groups {
  std::vector<CollisionGroup> seeds;
  std::vector<ColourGroup> colours;
};

// Both kinds of group, each in the order of their first objects.
Groups find_groups(const std::vector<ObjectColour>& objects);

// "#rrggbb" of a colour's 8-bit values, as the image shows it.
std::string hex_colour(const host::Colour& colour);

// True when one seed serves every channel: the object is grey in every
// renderer.
bool is_grey(const std::vector<std::int32_t>& seeds);

struct SeedChoice {
  std::int32_t seed;
  std::size_t groups;  // of both kinds
  std::size_t grouped_objects;
};

// Tries `count` seeds from `first` on (wrapping around) and returns the one
// with the fewest groups of both kinds, then the fewest grouped objects, then
// the first. Leaves the database's seed at `first`.
SeedChoice search_seed(const Shader& shader, Database& database,
                       std::int32_t first, int count);

}  // namespace refhost
