// Tracing: primary rays and what they hit, through a bounding-volume
// hierarchy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/refhost/scene.h"

// Only +, -, *, / and sqrt are used, all exactly rounded, so Linux and
// Windows builds hit the same objects. A bounding-volume hierarchy over the
// objects keeps a ray's cost near the logarithm of their number; it only
// skips objects that the ray cannot reach, so what a ray hits is exactly
// what testing every object would give (the nearest, and of equally near
// ones the first in the scene).
namespace refhost {

class Tracer {
 public:
  Tracer(const Scene& scene, int width, int height);

  // The nearest object that the ray through image point (x, y) hits, in
  // pixel units from the top-left corner; nothing for the background.
  std::optional<std::size_t> hit(double x, double y) const;

  std::size_t objects() const { return objects_.size(); }

  // The same answer found by testing every object: what `hit` must equal.
  std::optional<std::size_t> hit_every_object(double x, double y) const;

  // A box of the hierarchy: its bounds, and either its first child (the
  // second follows it) or, for a leaf, a range of `order_`.
  struct Node {
    std::array<double, 3> low, high;
    std::uint32_t first;
    std::uint32_t count;  // 0: an inner node
  };

 private:
  std::uint32_t build(std::uint32_t begin, std::uint32_t end,
                      const std::vector<Node>& boxes);
  Vec3 direction(double x, double y) const;

  const std::vector<Object>& objects_;
  std::vector<Node> nodes_;
  std::vector<std::uint32_t> order_;  // object indices, leaf by leaf
  Vec3 origin_, forward_, right_, up_;
  double half_width_, half_height_;
  int width_, height_;
};

// tan(degrees / 2) from its series, so that no platform's libm decides it.
double tan_half_angle(double degrees);

}  // namespace refhost
