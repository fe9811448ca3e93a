// The reference host's scene: named objects of a few shapes, a camera, the
// image and the shader's parameters; read from a scene file (or the built-in
// still life) with every fault placed and explained.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The reference host's scene: named objects of a few shapes, a camera, the
// image and the shader's parameters.
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

// Reads a scene file. Throws refhost::Failure naming the file and the place
// of the first fault.
Scene load_scene(const std::string& path);

// Parses scene text; `origin` names it in errors.
Scene parse_scene(const std::string& text, const std::string& origin);

// The built-in still life.
Scene default_scene();

}  // namespace refhost

// Scene text: a scene file read whole, and the places of faults in it, in
// words a person can act on.
namespace refhost {

// Scene files larger than this are refused before they are read.
inline constexpr std::size_t kMaxSceneBytes = std::size_t{256} << 20;

// The whole file, or a Failure that says why not: missing, a directory,
// unreadable, or too large (checked before reading, and while reading what
// has no size, such as a device or a pipe).
std::string read_scene_file(const std::string& path);

// "line L, column C" of the byte at `offset`, columns counting characters.
std::string place_of(const std::string& text, std::size_t offset);

// The JSON parser's reason for a syntax error, without its own tag and
// place, and with raw bytes of the text made printable.
std::string syntax_reason(const std::string& what);

}  // namespace refhost
