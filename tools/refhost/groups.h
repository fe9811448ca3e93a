// What a compositor cannot tell apart in the object-ID image: objects whose
// seeds are all equal (identical colours in every renderer, whatever its
// generator), those that share an 8-bit colour in this image, and those
// whose colours differ too little to see or key (CIEDE2000).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/common/colour.h"
#include "tools/refhost/render.h"
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

}  // namespace refhost
