#include "tools/refhost/raycast.h"

#include <cmath>
#include <limits>
#include <utility>

namespace refhost {

namespace {

Vec3 operator-(const Vec3& a, const Vec3& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec3 operator+(const Vec3& a, const Vec3& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
Vec3 operator*(const Vec3& a, double s) {
  return {a[0] * s, a[1] * s, a[2] * s};
}
double dot(const Vec3& a, const Vec3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
          a[0] * b[1] - a[1] * b[0]};
}
Vec3 normalise(const Vec3& a) { return a * (1.0 / std::sqrt(dot(a, a))); }

constexpr double kNoHit = std::numeric_limits<double>::infinity();
constexpr double kNear = 1e-9;

double hit_sphere(const Object& o, const Vec3& from, const Vec3& dir) {
  const Vec3 oc = from - o.position;
  const double b = dot(oc, dir);
  const double c = dot(oc, oc) - o.size[0] * o.size[0];
  const double disc = b * b - c;
  if (disc < 0) return kNoHit;
  const double root = std::sqrt(disc);
  if (-b - root > kNear) return -b - root;
  return -b + root > kNear ? -b + root : kNoHit;
}

double hit_box(const Object& o, const Vec3& from, const Vec3& dir) {
  double near = -kNoHit, far = kNoHit;
  for (int axis = 0; axis < 3; ++axis) {
    const double low = o.position[axis] - o.size[axis] / 2;
    const double high = o.position[axis] + o.size[axis] / 2;
    if (dir[axis] == 0) {
      if (from[axis] < low || from[axis] > high) return kNoHit;
      continue;
    }
    double t0 = (low - from[axis]) / dir[axis];
    double t1 = (high - from[axis]) / dir[axis];
    if (t0 > t1) std::swap(t0, t1);
    if (t0 > near) near = t0;
    if (t1 < far) far = t1;
  }
  if (near > far || far <= kNear) return kNoHit;
  return near > kNear ? near : far;
}

double hit_plane(const Object& o, const Vec3& from, const Vec3& dir) {
  if (dir[1] == 0) return kNoHit;
  const double t = (o.position[1] - from[1]) / dir[1];
  if (t <= kNear) return kNoHit;
  const Vec3 p = from + dir * t;
  const bool inside = p[0] >= o.position[0] - o.size[0] / 2 &&
                      p[0] <= o.position[0] + o.size[0] / 2 &&
                      p[2] >= o.position[2] - o.size[2] / 2 &&
                      p[2] <= o.position[2] + o.size[2] / 2;
  return inside ? t : kNoHit;
}

double hit_object(const Object& o, const Vec3& from, const Vec3& dir) {
  switch (o.shape) {
    case Shape::kSphere:
      return hit_sphere(o, from, dir);
    case Shape::kBox:
      return hit_box(o, from, dir);
    case Shape::kPlane:
      return hit_plane(o, from, dir);
  }
  return kNoHit;
}

}  // namespace

double tan_half_angle(double degrees) {
  const double x = degrees * (3.14159265358979323846 / 360.0);
  // Taylor series of sine and cosine; |x| < 1.5, so 14 terms are plenty.
  double sine = 0, cosine = 0, term_sin = x, term_cos = 1;
  for (int n = 0; n < 14; ++n) {
    sine += term_sin;
    cosine += term_cos;
    term_sin *= -x * x / ((2 * n + 2) * (2 * n + 3));
    term_cos *= -x * x / ((2 * n + 1) * (2 * n + 2));
  }
  return sine / cosine;
}

Tracer::Tracer(const Scene& scene, int width, int height)
    : objects_(scene.objects),
      origin_(scene.camera.position),
      width_(width),
      height_(height) {
  forward_ = normalise(scene.camera.look_at - scene.camera.position);
  Vec3 right = cross(forward_, {0, 1, 0});
  // Looking straight up or down: any horizontal right will do.
  if (dot(right, right) == 0) right = {1, 0, 0};
  right_ = normalise(right);
  up_ = cross(right_, forward_);
  half_height_ = tan_half_angle(scene.camera.fov_degrees);
  half_width_ = half_height_ * width / height;
}

std::optional<std::size_t> Tracer::hit(double x, double y) const {
  const double sx = (2 * x / width_ - 1) * half_width_;
  const double sy = (1 - 2 * y / height_) * half_height_;
  const Vec3 dir = normalise(forward_ + right_ * sx + up_ * sy);
  std::optional<std::size_t> nearest;
  double best = kNoHit;
  for (std::size_t i = 0; i < objects_.size(); ++i) {
    const double t = hit_object(objects_[i], origin_, dir);
    if (t < best) {
      best = t;
      nearest = i;
    }
  }
  return nearest;
}

}  // namespace refhost
