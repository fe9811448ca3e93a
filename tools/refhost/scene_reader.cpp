#include "tools/refhost/scene_reader.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "tools/common/errors.h"
#include "tools/common/quoting.h"
#include "tools/common/scene_file.h"
#include "tools/common/words.h"

namespace refhost {

using common::Failure;
using common::meant_word;
using common::place_of;
using common::quote;
using common::quote_short;
using common::read_scene_file;
using common::syntax_reason;

namespace {

using nlohmann::json;

// ---- Reading the scene straight from the parser's events, into the scene's
// own records: no document is built, whatever the file's size.

enum class Context {
  kRoot,
  kObjects,
  kObject,
  kCamera,
  kImage,
  kShader,
  kVector
};

const std::vector<const char*>& keys_of(Context context) {
  static const std::vector<const char*> root = {"objects", "camera", "image",
                                                "shader"};
  static const std::vector<const char*> object = {"name", "shape", "position",
                                                  "size", "seed"};
  static const std::vector<const char*> camera = {"position", "look_at", "fov"};
  static const std::vector<const char*> image = {"width", "height"};
  static const std::vector<const char*> shader = {"seed", "grayscale"};
  static const std::vector<const char*> none;
  switch (context) {
    case Context::kRoot:
      return root;
    case Context::kObject:
      return object;
    case Context::kCamera:
      return camera;
    case Context::kImage:
      return image;
    case Context::kShader:
      return shader;
    default:
      return none;
  }
}

// One value of the scene, as the parser hands it over.
struct Value {
  enum Kind { kNull, kBoolean, kInteger, kUnsigned, kFloat, kString } kind;
  double number = 0;
  std::int64_t integer = 0;
  bool boolean = false;
  std::string* text = nullptr;
  bool is_number() const {
    return kind == kInteger || kind == kUnsigned || kind == kFloat;
  }
};

// An open object or array: what it is, its path in messages, the keys seen
// (one bit each), the key now being read, and the elements read so far.
struct Frame {
  Frame(Context c, std::string p) : context(c), path(std::move(p)) {}
  Context context;
  std::string path;
  unsigned seen = 0;
  std::string key;
  std::size_t elements = 0;
  Vec3* vector = nullptr;  // where a kVector's numbers go
  std::size_t start = 0;   // where it begins in the text
};

// Counts how far the parser has read, for the places of faults found in the
// events (the parser itself reports only its own).
struct CountingIterator {
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;
  const char* at;
  const char** reached;
  reference operator*() const { return *at; }
  CountingIterator& operator++() {
    *reached = ++at;
    return *this;
  }
  bool operator==(const CountingIterator& other) const {
    return at == other.at;
  }
  bool operator!=(const CountingIterator& other) const {
    return at != other.at;
  }
};

struct SyntaxError {
  std::size_t offset;
  std::string reason;
};

class SceneReader : public nlohmann::json_sax<json> {
 public:
  SceneReader(const std::string& text, std::string origin)
      : text_(text), origin_(std::move(origin)), reached_(text.data()) {}

  Scene read() {
    // A NUL byte is refused wherever it stands: nothing after it may be
    // silently lost.
    const std::size_t nul = text_.find('\0');
    if (nul != std::string::npos)
      throw Failure(origin_ + ": " + place_of(text_, nul) + ": a NUL byte");
    CountingIterator first{text_.data(), &reached_};
    CountingIterator last{text_.data() + text_.size(), &reached_};
    try {
      json::sax_parse(first, last, this);
    } catch (const SyntaxError& e) {
      // The parser's offset is one past the byte it stopped at.
      const std::size_t at = e.offset > 0 ? e.offset - 1 : 0;
      throw Failure(origin_ + ": " + place_of(text_, at) + ": " + e.reason);
    }
    return std::move(scene_);
  }

  // ---- The parser's events.
  bool null() override { return value({Value::kNull}); }
  bool boolean(bool b) override {
    Value v{Value::kBoolean};
    v.boolean = b;
    return value(v);
  }
  bool number_integer(number_integer_t n) override {
    Value v{Value::kInteger};
    v.integer = n;
    v.number = static_cast<double>(n);
    return value(v);
  }
  bool number_unsigned(number_unsigned_t n) override {
    Value v{Value::kUnsigned};
    v.integer = n > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(n);
    v.number = static_cast<double>(n);
    return value(v);
  }
  bool number_float(number_float_t n, const string_t&) override {
    Value v{Value::kFloat};
    v.number = n;
    return value(v);
  }
  bool string(string_t& s) override {
    Value v{Value::kString};
    v.text = &s;
    return value(v);
  }
  bool binary(binary_t&) override { return value({Value::kNull}); }
  bool start_object(std::size_t) override;
  bool key(string_t& key) override;
  bool end_object() override;
  bool start_array(std::size_t) override;
  bool end_array() override;
  bool parse_error(std::size_t offset, const std::string& token,
                   const json::exception& error) override {
    // A number too large is reported after it; point at its first digit.
    constexpr int kNumberOverflow = 406;
    if (error.id == kNumberOverflow && offset >= token.size())
      offset -= token.size() - 1;
    throw SyntaxError{offset, syntax_reason(error.what())};
  }

 private:
  [[noreturn]] void fail(const std::string& where,
                         const std::string& what) const {
    throw Failure(origin_ + ": " + where + ": " + what);
  }
  // The path of the value now being read.
  std::string here() const;
  bool value(const Value& v);
  void object_value(Frame& frame, const Value& v, const std::string& where);
  void setting_value(Frame& frame, const Value& v, const std::string& where);
  void end_of_object(const Frame& frame);
  void check_view(const Frame& camera) const;
  std::int64_t whole(const Value& v, const std::string& where, std::int64_t low,
                     std::int64_t high) const;
  void check_edge(double edge, const std::string& where) const;
  std::size_t string_start() const;
  std::size_t container_start(char bracket) const;

  const std::string& text_;
  const std::string origin_;
  const char* reached_;
  std::vector<Frame> frames_;
  Scene scene_;
  bool size_is_array_ = false;
  bool image_seen_ = false;
};

std::string SceneReader::here() const {
  const Frame& frame = frames_.back();
  if (frame.context == Context::kObjects || frame.context == Context::kVector)
    return frame.path + "[" + std::to_string(frame.elements) + "]";
  return frame.path.empty() ? frame.key : frame.path + "." + frame.key;
}

// Where the container just opened begins: its bracket.
std::size_t SceneReader::container_start(char bracket) const {
  std::size_t at = static_cast<std::size_t>(reached_ - text_.data());
  while (at > 0 && text_[at] != bracket) --at;
  return at;
}

// Where the string (a key or a value) just read begins: its opening quote.
std::size_t SceneReader::string_start() const {
  std::size_t at = static_cast<std::size_t>(reached_ - text_.data());
  at = at > 0 ? at - 1 : 0;  // the closing quote
  while (at > 0) {
    --at;
    if (text_[at] != '"') continue;
    std::size_t slashes = 0;
    while (at > slashes && text_[at - 1 - slashes] == '\\') ++slashes;
    if (slashes % 2 == 0) break;
  }
  return at;
}

bool SceneReader::key(string_t& key) {
  Frame& frame = frames_.back();
  const auto& known = keys_of(frame.context);
  const std::string where = frame.path.empty() ? "scene" : frame.path;
  const auto it = std::find_if(known.begin(), known.end(),
                               [&](const char* k) { return key == k; });
  if (it == known.end()) {
    const char* meant = meant_word(key, known);
    fail(where, "unknown key " + quote_short(key) +
                    (meant ? " (did you mean " + quote(meant) + "?)" : ""));
  }
  const unsigned bit = 1u << (it - known.begin());
  if (frame.seen & bit)
    fail(where, "duplicate key " + quote(key) + " at " +
                    place_of(text_, string_start()));
  frame.seen |= bit;
  frame.key = std::move(key);
  return true;
}

bool SceneReader::start_object(std::size_t) {
  if (frames_.empty()) {
    frames_.emplace_back(Context::kRoot, "");
    return true;
  }
  Frame& parent = frames_.back();
  const std::string where = here();
  Context context;
  if (parent.context == Context::kObjects) {
    context = Context::kObject;
    scene_.objects.emplace_back();
    size_is_array_ = false;
  } else if (parent.context == Context::kRoot && parent.key == "camera") {
    context = Context::kCamera;
  } else if (parent.context == Context::kRoot && parent.key == "image") {
    context = Context::kImage;
    image_seen_ = true;
  } else if (parent.context == Context::kRoot && parent.key == "shader") {
    context = Context::kShader;
  } else {
    // Any other container is more nesting than the format has: refused at
    // once, so that no depth of brackets costs more than this.
    Value none{Value::kNull};
    return value(none);
  }
  frames_.emplace_back(context, where);
  frames_.back().start = container_start('{');
  return true;
}

bool SceneReader::end_object() {
  const Frame frame = std::move(frames_.back());
  frames_.pop_back();
  end_of_object(frame);
  if (!frames_.empty()) ++frames_.back().elements;
  return true;
}

bool SceneReader::start_array(std::size_t) {
  if (frames_.empty()) fail("scene", "expected an object");
  Frame& parent = frames_.back();
  const std::string where = here();
  if (parent.context == Context::kRoot && parent.key == "objects") {
    frames_.emplace_back(Context::kObjects, "objects");
    return true;
  }
  Vec3* target = nullptr;
  if (parent.context == Context::kObject && parent.key == "position")
    target = &scene_.objects.back().position;
  else if (parent.context == Context::kObject && parent.key == "size")
    target = &scene_.objects.back().size, size_is_array_ = true;
  else if (parent.context == Context::kCamera && parent.key == "position")
    target = &scene_.camera.position;
  else if (parent.context == Context::kCamera && parent.key == "look_at")
    target = &scene_.camera.look_at;
  if (!target) {
    Value none{Value::kNull};
    return value(none);
  }
  Frame frame{Context::kVector, where};
  frame.vector = target;
  frames_.push_back(std::move(frame));
  return true;
}

bool SceneReader::end_array() {
  const Frame frame = std::move(frames_.back());
  frames_.pop_back();
  if (frame.context == Context::kVector) {
    if (frame.elements != 3) fail(frame.path, "expected [x, y, z]");
    if (frames_.back().key == "size")
      for (int i = 0; i < 3; ++i)
        check_edge((*frame.vector)[i],
                   frame.path + "[" + std::to_string(i) + "]");
  }
  ++frames_.back().elements;
  return true;
}

std::int64_t SceneReader::whole(const Value& v, const std::string& where,
                                std::int64_t low, std::int64_t high) const {
  if (v.kind != Value::kInteger && v.kind != Value::kUnsigned)
    fail(where, "expected a whole number");
  // Unsigned numbers past 64 bits were saturated, so they fail here too.
  if (v.integer < low || v.integer > high)
    fail(where,
         "must be from " + std::to_string(low) + " to " + std::to_string(high));
  return v.integer;
}

void SceneReader::check_edge(double edge, const std::string& where) const {
  if (!(edge > 0)) fail(where, "sizes must be greater than 0");
  if (edge > kMaxSize) fail(where, "sizes must be at most 1e9");
}

bool SceneReader::value(const Value& v) {
  if (frames_.empty()) fail("scene", "expected an object");
  Frame& frame = frames_.back();
  const std::string where = here();
  switch (frame.context) {
    case Context::kObjects:
      fail(where, "expected an object");
    case Context::kVector:
      if (!v.is_number()) fail(where, "expected a number");
      if (frame.elements >= 3) fail(frame.path, "expected [x, y, z]");
      (*frame.vector)[frame.elements] = v.number;
      break;
    case Context::kObject:
      object_value(frame, v, where);
      break;
    default:
      setting_value(frame, v, where);
  }
  ++frame.elements;
  return true;
}

std::optional<Shape> shape_of(const Value& v) {
  if (v.kind == Value::kString) {
    if (*v.text == "sphere") return Shape::kSphere;
    if (*v.text == "box") return Shape::kBox;
    if (*v.text == "plane") return Shape::kPlane;
  }
  return std::nullopt;
}

void SceneReader::object_value(Frame& frame, const Value& v,
                               const std::string& where) {
  Object& o = scene_.objects.back();
  if (frame.key == "name") {
    if (v.kind != Value::kString) fail(where, "expected a string");
    // A renderer's names end at U+0000: the shader would hash a shorter
    // name than the manifest shows.
    if (v.text->find('\0') != std::string::npos)
      throw Failure(origin_ + ": " + place_of(text_, string_start()) + ": " +
                    where + ": a name may not hold U+0000");
    o.name = std::move(*v.text);
  } else if (frame.key == "shape") {
    const std::optional<Shape> shape = shape_of(v);
    if (!shape) fail(where, "shape must be \"sphere\", \"box\" or \"plane\"");
    o.shape = *shape;
  } else if (frame.key == "position") {
    fail(where, "expected [x, y, z]");
  } else if (frame.key == "size") {
    if (!v.is_number()) fail(where, "expected a number");
    check_edge(v.number, where);
    o.size = {v.number, v.number, v.number};
  } else if (frame.key == "seed") {
    o.seed = static_cast<std::int32_t>(whole(v, where, INT32_MIN, INT32_MAX));
  }
}

void SceneReader::setting_value(Frame& frame, const Value& v,
                                const std::string& where) {
  if (frame.context == Context::kRoot) {
    if (frame.key == "objects") fail(where, "expected an array");
    fail(where, "expected an object");
  }
  if (frame.context == Context::kCamera) {
    if (frame.key != "fov") fail(where, "expected [x, y, z]");
    if (!v.is_number()) fail(where, "expected a number");
    if (!(v.number > 0 && v.number < 170))
      fail(where, "must be between 0 and 170 degrees");
    scene_.camera.fov_degrees = v.number;
  } else if (frame.context == Context::kImage) {
    const int side = static_cast<int>(whole(v, where, 1, kMaxImageSide));
    (frame.key == "width" ? scene_.width : scene_.height) = side;
  } else if (frame.key == "seed") {
    scene_.seed =
        static_cast<std::int32_t>(whole(v, where, INT32_MIN, INT32_MAX));
  } else {
    if (v.kind != Value::kBoolean) fail(where, "expected true or false");
    scene_.grayscale = v.boolean;
  }
}

// What an object must hold once it is complete.
void SceneReader::end_of_object(const Frame& frame) {
  const std::string where = frame.path.empty() ? "scene" : frame.path;
  auto require = [&](const char* key) {
    const auto& known = keys_of(frame.context);
    const auto bit = std::find_if(known.begin(), known.end(),
                                  [&](const char* k) {
                                    return std::string_view(k) == key;
                                  }) -
                     known.begin();
    if (!(frame.seen & (1u << bit)))
      fail(where, std::string("missing \"") + key + "\"");
  };
  switch (frame.context) {
    case Context::kRoot:
      require("objects");
      break;
    case Context::kObject:
      require("name"), require("shape"), require("position");
      if (size_is_array_ && scene_.objects.back().shape == Shape::kSphere)
        fail(where + ".size", "a sphere's size is its radius, one number");
      break;
    case Context::kImage:
      require("width"), require("height");
      break;
    case Context::kCamera:
      check_view(frame);
      break;
    default:
      break;
  }
}

// The camera looks somewhere: from position towards look_at is a direction
// that can be normalised, neither too short (its square underflows) nor too
// long (it overflows), or every ray would be lost.
void SceneReader::check_view(const Frame& camera) const {
  const Camera& c = scene_.camera;
  double length_squared = 0;
  for (int axis = 0; axis < 3; ++axis) {
    const double d = c.look_at[axis] - c.position[axis];
    length_squared += d * d;
  }
  if (length_squared >= std::numeric_limits<double>::min() &&
      length_squared <= std::numeric_limits<double>::max())
    return;
  throw Failure(origin_ + ": " + place_of(text_, camera.start) + ": camera: " +
                (c.look_at == c.position
                     ? "position and look_at must differ"
                     : "look_at is too near position, or too far from it, "
                       "to give a view direction"));
}

}  // namespace

Scene parse_scene(const std::string& text, const std::string& origin) {
  return SceneReader(text, origin).read();
}

Scene load_scene(const std::string& path) {
  return parse_scene(read_scene_file(path), quote(path));
}

}  // namespace refhost
