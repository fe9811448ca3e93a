#include "tools/refhost/tracer.h"

#include <algorithm>
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

using Node = Tracer::Node;

// An object's bounds, widened a little, so that rounding never lets a ray
// miss the box of an object it hits.
Node bounds_of(const Object& o) {
  Vec3 half = o.shape == Shape::kSphere
                  ? Vec3{o.size[0], o.size[0], o.size[0]}
                  : Vec3{o.size[0] / 2, o.size[1] / 2, o.size[2] / 2};
  if (o.shape == Shape::kPlane) half[1] = 0;
  Node box{};
  for (int axis = 0; axis < 3; ++axis) {
    const double margin = 1e-7 * (1 + std::fabs(o.position[axis]) + half[axis]);
    box.low[axis] = o.position[axis] - half[axis] - margin;
    box.high[axis] = o.position[axis] + half[axis] + margin;
  }
  return box;
}

void enclose(Node& box, const Node& other) {
  for (int axis = 0; axis < 3; ++axis) {
    box.low[axis] = std::min(box.low[axis], other.low[axis]);
    box.high[axis] = std::max(box.high[axis], other.high[axis]);
  }
}

// Where the ray enters the box, or kNoHit if it misses it or the box lies
// behind it (or beyond `limit`).
double enter_box(const Node& box, const Vec3& from, const Vec3& dir,
                 const Vec3& inverse, double limit) {
  double near = 0, far = limit;
  for (int axis = 0; axis < 3; ++axis) {
    if (dir[axis] == 0) {
      if (from[axis] < box.low[axis] || from[axis] > box.high[axis])
        return kNoHit;
      continue;
    }
    double t0 = (box.low[axis] - from[axis]) * inverse[axis];
    double t1 = (box.high[axis] - from[axis]) * inverse[axis];
    if (t0 > t1) std::swap(t0, t1);
    near = std::max(near, t0);
    far = std::min(far, t1);
    if (near > far) return kNoHit;
  }
  return near;
}

constexpr std::uint32_t kLeafSize = 4;

}  // namespace

// Splits the objects in order_[begin, end) at the median of their centres
// along the longest extent of those centres, down to small leaves.
std::uint32_t Tracer::build(std::uint32_t begin, std::uint32_t end,
                            const std::vector<Node>& boxes) {
  const std::uint32_t index = static_cast<std::uint32_t>(nodes_.size());
  nodes_.push_back(boxes[order_[begin]]);
  Node lows = boxes[order_[begin]], centres{};
  for (int axis = 0; axis < 3; ++axis)
    centres.low[axis] = centres.high[axis] =
        objects_[order_[begin]].position[axis];
  for (std::uint32_t i = begin + 1; i < end; ++i) {
    enclose(lows, boxes[order_[i]]);
    for (int axis = 0; axis < 3; ++axis) {
      const double c = objects_[order_[i]].position[axis];
      centres.low[axis] = std::min(centres.low[axis], c);
      centres.high[axis] = std::max(centres.high[axis], c);
    }
  }
  nodes_[index].low = lows.low;
  nodes_[index].high = lows.high;
  if (end - begin <= kLeafSize) {
    nodes_[index].first = begin;
    nodes_[index].count = end - begin;
    return index;
  }
  int axis = 0;
  for (int a = 1; a < 3; ++a)
    if (centres.high[a] - centres.low[a] >
        centres.high[axis] - centres.low[axis])
      axis = a;
  const std::uint32_t middle = begin + (end - begin) / 2;
  std::nth_element(order_.begin() + begin, order_.begin() + middle,
                   order_.begin() + end, [&](std::uint32_t a, std::uint32_t b) {
                     const double ca = objects_[a].position[axis];
                     const double cb = objects_[b].position[axis];
                     return ca < cb || (ca == cb && a < b);
                   });
  // The children follow each other: the first is built at index + 1.
  nodes_[index].count = 0;
  build(begin, middle, boxes);
  nodes_[index].first = build(middle, end, boxes);
  return index;
}

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
  if (objects_.empty()) return;
  std::vector<Node> boxes;
  boxes.reserve(objects_.size());
  for (const Object& o : objects_) boxes.push_back(bounds_of(o));
  order_.resize(objects_.size());
  for (std::uint32_t i = 0; i < order_.size(); ++i) order_[i] = i;
  nodes_.reserve(2 * objects_.size() / kLeafSize + 2);
  build(0, static_cast<std::uint32_t>(order_.size()), boxes);
}

Vec3 Tracer::direction(double x, double y) const {
  const double sx = (2 * x / width_ - 1) * half_width_;
  const double sy = (1 - 2 * y / height_) * half_height_;
  return normalise(forward_ + right_ * sx + up_ * sy);
}

std::optional<std::size_t> Tracer::hit_every_object(double x, double y) const {
  const Vec3 dir = direction(x, y);
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

std::optional<std::size_t> Tracer::hit(double x, double y) const {
  const Vec3 dir = direction(x, y);
  const Vec3 inverse = {1 / dir[0], 1 / dir[1], 1 / dir[2]};
  std::optional<std::size_t> nearest;
  double best = kNoHit;
  if (nodes_.empty()) return nearest;
  // Boxes still to visit, the nearest on top. The tree is balanced, so its
  // depth, and this stack, stay below 64 for any scene that fits in memory.
  struct Pending {
    std::uint32_t node;
    double enter;
  } stack[64];
  int depth = 0;
  const double enter_root = enter_box(nodes_[0], origin_, dir, inverse, best);
  if (enter_root != kNoHit) stack[depth++] = {0, enter_root};
  while (depth > 0) {
    const Pending pending = stack[--depth];
    if (pending.enter > best) continue;  // a nearer hit was found meanwhile
    const std::uint32_t index = pending.node;
    const Node& node = nodes_[index];
    if (node.count == 0) {
      // A box that starts beyond the nearest hit so far holds nothing
      // nearer; one that starts just at it may hold an equally near, earlier
      // object, so it is still visited.
      const std::uint32_t children[2] = {index + 1, node.first};
      double enter[2];
      for (int c = 0; c < 2; ++c)
        enter[c] = enter_box(nodes_[children[c]], origin_, dir, inverse, best);
      const int nearer = enter[1] < enter[0] ? 1 : 0;
      for (int c : {1 - nearer, nearer})
        if (enter[c] != kNoHit) stack[depth++] = {children[c], enter[c]};
      continue;
    }
    for (std::uint32_t i = node.first; i < node.first + node.count; ++i) {
      const std::size_t object = order_[i];
      const double t = hit_object(objects_[object], origin_, dir);
      if (t < best || (t == best && t != kNoHit && object < *nearest)) {
        best = t;
        nearest = object;
      }
    }
  }
  return nearest;
}

}  // namespace refhost
