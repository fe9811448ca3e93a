// What a compositor cannot tell apart, found, ranked and reported: shared
// seeds, shared 8-bit colours, colours too close to key (CIEDE2000), the seed
// search, and the report a person reads.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/records.h"
#include "tools/refhost/colour.h"
#include "tools/refhost/database.h"
#include "tools/refhost/options.h"
#include "tools/refhost/render.h"
#include "tools/refhost/scene.h"

// Objects that a compositor cannot tell apart in the object-ID image: those
// whose seeds are all equal (identical colours in every renderer, whatever
// its generator), those that share an 8-bit colour in this image, and those
// whose colours differ too little to see or key; and the search for a `seed`
// that leaves the fewest.
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

// True when one seed serves every channel: the object is grey in every
// renderer.
bool is_grey(const std::vector<std::int32_t>& seeds);

using Touching = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Two objects whose colours are close, but not the same 8-bit colour (those
// are colour groups already).
struct ClosePair {
  std::size_t first, second;  // first < second
  double difference;          // CIEDE2000
  bool touching;              // in the image
};

// The pairs of visible objects (covering a sample) closer than a threshold.
// Bounded for any scene and threshold: where comparing every pair near
// enough in lightness would take more than kMaxComparisons, the pairs that
// touch alone are compared (they are what no matte can part); and at most
// kMaxClosePairs are kept, the touching ones first, then the closest, with
// the count of the rest.
inline constexpr std::uint64_t kMaxComparisons = 10'000'000;
inline constexpr std::size_t kMaxClosePairs = 10'000;

struct ClosePairs {
  std::vector<ClosePair> pairs;  // in order of their objects
  std::size_t left_out = 0;      // found, but past kMaxClosePairs
  bool touching_only = false;    // only touching pairs were compared
  std::size_t found() const { return pairs.size() + left_out; }
};

ClosePairs find_close_pairs(const std::vector<ObjectColour>& objects,
                            const std::vector<Coverage>& coverage,
                            const Touching& touching, double threshold);

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

// The report a person reads on standard output: one quoted, escaped line a
// group or pair, at most ten names of a group.
namespace refhost {

void report_seed_groups(const Scene& scene, const Groups& groups);
void report_groups(const Scene& scene, const Groups& groups);
void report_close_pairs(const Scene& scene, const ClosePairs& close,
                        double threshold);
void report_search(const Options& options, std::int32_t first,
                   const SeedChoice& choice);

}  // namespace refhost
