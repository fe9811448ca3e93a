#include "tools/refhost/seed_search.h"

#include <algorithm>
#include <cstdint>

#include "tools/common/progress.h"

namespace refhost {

using common::ciede2000;
using common::Lab;
using common::lab_of;
using common::Progress;

namespace {

std::int32_t nth_seed(std::int32_t first, int n) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(first) +
                                   static_cast<std::uint32_t>(n));
}

}  // namespace

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
  for (const ObjectColour& o : objects) labs.push_back(lab_of(o.rgb()));
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
