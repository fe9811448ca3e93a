// The search for a `seed` that leaves the fewest objects a compositor
// cannot tell apart, with progress; used by renders and by names alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "tools/refhost/groups.h"
#include "tools/refhost/shading.h"

namespace refhost {

// How good a seed is, each count the fewer the better, then the smallest
// difference between touching objects the larger.
struct SeedScore {
  std::size_t seed_grouped = SIZE_MAX;    // objects in shared-seed groups
  std::size_t colour_grouped = SIZE_MAX;  // objects in shared-colour groups
  std::size_t touching_close = SIZE_MAX;  // touching pairs closer than it
  double smallest_touching = 0;           // difference of touching objects
  bool operator<(const SeedScore& other) const;
};

SeedScore score_of(const std::vector<ObjectColour>& objects,
                   const Groups& groups, const Touching& touching,
                   double threshold);

struct SeedChoice {
  std::int32_t seed;
  SeedScore score;
};

// How a seed is scored from the colours it gives every object.
using ScoreFunction =
    std::function<SeedScore(const std::vector<ObjectColour>& objects)>;

// Tries `count` seeds from `first` on (wrapping around), with progress on
// standard error, and returns the best by `score`, the first of equals.
// Leaves the database's seed at `first`.
SeedChoice search_seed(const Shader& shader, Database& database,
                       std::int32_t first, int count,
                       const ScoreFunction& score);

}  // namespace refhost
