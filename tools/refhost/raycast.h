// Primary rays and what they hit. Only +, -, *, / and sqrt are used, all
// exactly rounded, so Linux and Windows builds hit the same objects.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "tools/refhost/scene.h"

namespace refhost {

class Tracer {
 public:
  Tracer(const Scene& scene, int width, int height);

  // The nearest object that the ray through image point (x, y) hits, in
  // pixel units from the top-left corner; nothing for the background.
  std::optional<std::size_t> hit(double x, double y) const;

 private:
  const std::vector<Object>& objects_;
  Vec3 origin_, forward_, right_, up_;
  double half_width_, half_height_;
  int width_, height_;
};

// tan(degrees / 2) from its series, so that no platform's libm decides it.
double tan_half_angle(double degrees);

}  // namespace refhost
