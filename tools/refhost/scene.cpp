#include "tools/refhost/scene.h"

#include <algorithm>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <vector>

#include "tools/refhost/failure.h"
#include "tools/refhost/scene_text.h"

namespace refhost {

using nlohmann::json;

const char* shape_name(Shape shape) {
  switch (shape) {
    case Shape::kSphere:
      return "sphere";
    case Shape::kBox:
      return "box";
    case Shape::kPlane:
      return "plane";
  }
  return "?";
}

namespace {

// Edits (insertions, deletions, substitutions, swaps of neighbours) that turn
// one key into another, for "did you mean".
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(
      a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Reads one JSON value into the scene, naming where a fault lies.
class Reader {
 public:
  explicit Reader(std::string origin) : origin_(std::move(origin)) {}

  [[noreturn]] void fail(const std::string& where,
                         const std::string& what) const {
    throw Failure(origin_ + ": " + where + ": " + what);
  }

  // An object whose keys are all among `known`.
  void expect_object(const json& value, const std::string& where,
                     std::initializer_list<const char*> known) const {
    if (!value.is_object()) fail(where, "expected an object");
    for (const auto& item : value.items()) {
      std::string closest;
      std::size_t best = 3;  // at most two edits away, ignoring case
      for (const char* key : known) {
        if (item.key() == key) {
          closest.clear();
          best = 0;
          break;
        }
        const std::size_t d = edit_distance(lower(item.key()), lower(key));
        if (d < best) best = d, closest = key;
      }
      if (best == 0) continue;
      fail(where, "unknown key " + json_quoted(item.key()) +
                      (closest.empty()
                           ? ""
                           : " (did you mean " + json_quoted(closest) + "?)"));
    }
  }

  const json& member(const json& object, const char* key,
                     const std::string& where) const {
    auto it = object.find(key);
    if (it == object.end()) fail(where, std::string("missing \"") + key + "\"");
    return *it;
  }

  double number(const json& value, const std::string& where) const {
    if (!value.is_number()) fail(where, "expected a number");
    return value.get<double>();
  }

  std::int64_t integer(const json& value, const std::string& where,
                       std::int64_t low, std::int64_t high) const {
    if (!value.is_number_integer()) fail(where, "expected a whole number");
    const auto n = value.get<std::int64_t>();
    if ((value.is_number_unsigned() &&
         value.get<std::uint64_t>() > INT64_MAX) ||
        n < low || n > high)
      fail(where, "must be from " + std::to_string(low) + " to " +
                      std::to_string(high));
    return n;
  }

  Vec3 vec3(const json& value, const std::string& where) const {
    if (!value.is_array() || value.size() != 3)
      fail(where, "expected [x, y, z]");
    return {number(value[0], where + "[0]"), number(value[1], where + "[1]"),
            number(value[2], where + "[2]")};
  }

  // A size is a positive number (all three edges) or [x, y, z].
  Vec3 size(const json& value, const std::string& where) const {
    if (value.is_array()) {
      const Vec3 s = vec3(value, where);
      for (int i = 0; i < 3; ++i)
        check_edge(s[i], where + "[" + std::to_string(i) + "]");
      return s;
    }
    const double edge = number(value, where);
    check_edge(edge, where);
    return {edge, edge, edge};
  }

  void check_edge(double edge, const std::string& where) const {
    if (!(edge > 0)) fail(where, "sizes must be greater than 0");
    if (edge > kMaxSize) fail(where, "sizes must be at most 1e9");
  }

  Shape shape(const json& value, const std::string& where) const {
    if (value == "sphere") return Shape::kSphere;
    if (value == "box") return Shape::kBox;
    if (value == "plane") return Shape::kPlane;
    fail(where, "shape must be \"sphere\", \"box\" or \"plane\"");
  }

  Object object(const json& value, const std::string& where) const {
    expect_object(value, where, {"name", "shape", "position", "size", "seed"});
    Object o;
    const json& name = member(value, "name", where);
    if (!name.is_string()) fail(where + ".name", "expected a string");
    o.name = name.get<std::string>();
    o.shape = shape(member(value, "shape", where), where + ".shape");
    o.position = vec3(member(value, "position", where), where + ".position");
    if (value.contains("size")) {
      if (o.shape == Shape::kSphere && value["size"].is_array())
        fail(where + ".size", "a sphere's size is its radius, one number");
      o.size = size(value["size"], where + ".size");
    }
    if (value.contains("seed"))
      o.seed = static_cast<std::int32_t>(
          integer(value["seed"], where + ".seed", INT32_MIN, INT32_MAX));
    return o;
  }

  Camera camera(const json& value) const {
    expect_object(value, "camera", {"position", "look_at", "fov"});
    Camera c;
    if (value.contains("position"))
      c.position = vec3(value["position"], "camera.position");
    if (value.contains("look_at"))
      c.look_at = vec3(value["look_at"], "camera.look_at");
    if (value.contains("fov")) {
      c.fov_degrees = number(value["fov"], "camera.fov");
      if (!(c.fov_degrees > 0 && c.fov_degrees < 170))
        fail("camera.fov", "must be between 0 and 170 degrees");
    }
    if (c.position == c.look_at)
      fail("camera", "position and look_at must differ");
    return c;
  }

  void image(const json& value, Scene& s) const {
    expect_object(value, "image", {"width", "height"});
    s.width = static_cast<int>(integer(member(value, "width", "image"),
                                       "image.width", 1, kMaxImageSide));
    s.height = static_cast<int>(integer(member(value, "height", "image"),
                                        "image.height", 1, kMaxImageSide));
  }

  void shader(const json& value, Scene& s) const {
    expect_object(value, "shader", {"seed", "grayscale"});
    if (value.contains("seed"))
      s.seed = static_cast<std::int32_t>(
          integer(value["seed"], "shader.seed", INT32_MIN, INT32_MAX));
    if (value.contains("grayscale")) {
      if (!value["grayscale"].is_boolean())
        fail("shader.grayscale", "expected true or false");
      s.grayscale = value["grayscale"].get<bool>();
    }
  }

  Scene scene(const json& root) const {
    expect_object(root, "scene", {"objects", "camera", "image", "shader"});
    Scene s;
    const json& objects = member(root, "objects", "scene");
    if (!objects.is_array()) fail("objects", "expected an array");
    for (std::size_t i = 0; i < objects.size(); ++i)
      s.objects.push_back(
          object(objects[i], "objects[" + std::to_string(i) + "]"));
    if (root.contains("camera")) s.camera = camera(root["camera"]);
    if (root.contains("image")) image(root["image"], s);
    if (root.contains("shader")) shader(root["shader"], s);
    return s;
  }

 private:
  std::string origin_;
};

}  // namespace

Scene parse_scene(const std::string& text, const std::string& origin) {
  return Reader(origin).scene(parse_json(text, origin));
}

Scene load_scene(const std::string& path) {
  return parse_scene(read_scene_file(path), path);
}

}  // namespace refhost
