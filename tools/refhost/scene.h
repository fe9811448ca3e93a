// The reference host's scene: named objects of a few shapes, a camera, the
// image and the shader's parameters, as the scene format describes them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace refhost {

using Vec3 = std::array<double, 3>;

// Limits of a scene: the largest size of an object, and of an image side.
inline constexpr double kMaxSize = 1e9;
inline constexpr int kMaxImageSide = 16384;

enum class Shape { kSphere, kBox, kPlane };

struct Object {
  std::string name;
  Shape shape = Shape::kSphere;
  Vec3 position{};
  // Sphere: radius (all three equal). Box: edge lengths. Plane: a horizontal
  // rectangle at position's height, x and z extents (y unused).
  Vec3 size{1, 1, 1};
  // A seed connected to this object alone, evaluated by the renderer.
  std::optional<std::int32_t> seed;
};

struct Camera {
  Vec3 position{0, 2, 8};
  Vec3 look_at{0, 0, 0};
  double fov_degrees = 45;  // vertical
};

struct Scene {
  std::vector<Object> objects;
  Camera camera;
  int width = 640;
  int height = 400;
  std::int32_t seed = 0;
  bool grayscale = false;
};

const char* shape_name(Shape shape);

}  // namespace refhost
