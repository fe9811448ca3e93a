#include "tools/refhost/scene.h"

#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/refhost/failure.h"

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

// Reads one JSON value into the scene, naming where a fault lies.
class Reader {
 public:
  explicit Reader(std::string origin) : origin_(std::move(origin)) {}

  [[noreturn]] void fail(const std::string& where,
                         const std::string& what) const {
    throw Failure(origin_ + ": " + where + ": " + what);
  }

  const json& member(const json& object, const char* key,
                     const std::string& where) const {
    if (!object.is_object()) fail(where, "expected an object");
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
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX)
      fail(where, "out of range");
    if (n < low || n > high)
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
    const Vec3 s = value.is_array()
                       ? vec3(value, where)
                       : Vec3{number(value, where), number(value, where),
                              number(value, where)};
    for (double edge : s)
      if (!(edge > 0) || edge > 1e9) fail(where, "sizes must be positive");
    return s;
  }

  Shape shape(const json& value, const std::string& where) const {
    if (value == "sphere") return Shape::kSphere;
    if (value == "box") return Shape::kBox;
    if (value == "plane") return Shape::kPlane;
    fail(where, "shape must be \"sphere\", \"box\" or \"plane\"");
  }

  Object object(const json& value, const std::string& where) const {
    Object o;
    const json& name = member(value, "name", where);
    if (!name.is_string()) fail(where + ".name", "expected a string");
    o.name = name.get<std::string>();
    o.shape = shape(member(value, "shape", where), where + ".shape");
    o.position = vec3(member(value, "position", where), where + ".position");
    if (value.contains("size")) o.size = size(value["size"], where + ".size");
    if (o.shape == Shape::kSphere && value.contains("size") &&
        value["size"].is_array())
      fail(where + ".size", "a sphere's size is its radius, one number");
    if (value.contains("seed"))
      o.seed = static_cast<std::int32_t>(
          integer(value["seed"], where + ".seed", INT32_MIN, INT32_MAX));
    return o;
  }

  Camera camera(const json& value) const {
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

  Scene scene(const json& root) const {
    Scene s;
    const json& objects = member(root, "objects", "scene");
    if (!objects.is_array()) fail("objects", "expected an array");
    for (std::size_t i = 0; i < objects.size(); ++i)
      s.objects.push_back(
          object(objects[i], "objects[" + std::to_string(i) + "]"));
    if (root.contains("camera")) s.camera = camera(root["camera"]);
    if (root.contains("image")) {
      const json& image = root["image"];
      s.width = static_cast<int>(
          integer(member(image, "width", "image"), "image.width", 1, 16384));
      s.height = static_cast<int>(
          integer(member(image, "height", "image"), "image.height", 1, 16384));
    }
    if (root.contains("shader")) {
      const json& shader = root["shader"];
      if (shader.contains("seed"))
        s.seed = static_cast<std::int32_t>(
            integer(shader["seed"], "shader.seed", INT32_MIN, INT32_MAX));
      if (shader.contains("grayscale")) {
        if (!shader["grayscale"].is_boolean())
          fail("shader.grayscale", "expected true or false");
        s.grayscale = shader["grayscale"].get<bool>();
      }
    }
    return s;
  }

 private:
  std::string origin_;
};

// "line L, column C" of a byte offset, for parse errors.
std::string place_of(const std::string& text, std::size_t offset) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

Scene parse_scene(const std::string& text, const std::string& origin) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    // The parser's offset is one past the byte it stopped at.
    const std::size_t at = e.byte > 0 ? e.byte - 1 : 0;
    std::string what = e.what();
    what = what.substr(what.find_last_of(':') + 1);
    throw Failure(origin + ": " + place_of(text, at) +
                  ": invalid JSON:" + what);
  }
  return Reader(origin).scene(root);
}

Scene load_scene(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Failure(path + ": cannot read the scene file");
  std::ostringstream text;
  text << file.rdbuf();
  return parse_scene(text.str(), path);
}

}  // namespace refhost
