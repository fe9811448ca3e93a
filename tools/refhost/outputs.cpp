#include "tools/refhost/outputs.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace refhost {

std::string png_bytes(const Image& image) {
  std::string bytes;
  auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                               static_cast<std::size_t>(size));
  };
  stbi_write_png_to_func(append, &bytes, image.width, image.height, 4,
                         image.rgba.data(), image.width * 4);
  return bytes;
}

namespace {

// The manifest is written as text directly, one object a line: a scene of a
// million objects must not need a document of them in memory.
class JsonText {
 public:
  JsonText& raw(std::string_view text) {
    out_.append(text);
    return *this;
  }
  // A string as JSON writes it. Names are valid UTF-8 (the scene's parser
  // sees to that) and keep their exact bytes; controls are escaped.
  JsonText& string(std::string_view text) {
    out_ += '"';
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        out_ += '\\';
        out_ += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        out_ += escape;
      } else {
        out_ += c;
      }
    }
    out_ += '"';
    return *this;
  }
  JsonText& number(long long n) { return raw(std::to_string(n)); }
  JsonText& number(int n) { return number(static_cast<long long>(n)); }
  // The shortest text that reads back as the same float.
  JsonText& number(float f) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, f).ptr;
    return raw(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
  JsonText& boolean(bool b) { return raw(b ? "true" : "false"); }
  template <typename T, typename Put>
  JsonText& list(const std::vector<T>& items, Put put) {
    raw("[");
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i) raw(", ");
      put(items[i]);
    }
    return raw("]");
  }
  JsonText& seeds(const std::vector<std::int32_t>& seeds) {
    return list(seeds,
                [&](std::int32_t s) { number(static_cast<long long>(s)); });
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

void put_object(JsonText& json, const Object& scene_object,
                const ObjectColour& o) {
  const host::Colour& c = o.colour;
  json.raw("    {\"name\": ").string(scene_object.name);
  json.raw(", \"shape\": ").string(shape_name(scene_object.shape));
  json.raw(", \"seeds\": ").seeds(o.seeds);
  json.raw(", \"colour\": [").number(c.red).raw(", ").number(c.green);
  json.raw(", ").number(c.blue).raw("], \"hex\": ").string(hex_colour(c));
  json.raw(", \"grey\": ").boolean(is_grey(o.seeds)).raw("}");
}

template <typename Group, typename Key>
void put_groups(JsonText& json, const char* name, const Scene& scene,
                const std::vector<Group>& groups, Key put_key) {
  json.raw(",\n  \"").raw(name).raw("\": [");
  for (std::size_t g = 0; g < groups.size(); ++g) {
    json.raw(g ? ",\n    {" : "\n    {");
    put_key(groups[g]);
    json.raw(", \"objects\": ").list(groups[g].objects, [&](std::size_t i) {
      json.string(scene.objects[i].name);
    });
    json.raw("}");
  }
  json.raw(groups.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string manifest_text(const ManifestInput& input) {
  const Scene& scene = input.scene;
  const RenderSettings& settings = input.settings;
  JsonText json;
  json.raw("{\n  \"shader\": {\"name\": \"ravelTint\", \"version\": 2, ")
      .raw("\"seed\": ")
      .number(static_cast<long long>(scene.seed))
      .raw(", \"grayscale\": ")
      .boolean(scene.grayscale);
  json.raw("},\n  \"image\": {\"width\": ").number(settings.width);
  json.raw(", \"height\": ").number(settings.height);
  json.raw(", \"samples_per_pixel\": ")
      .number(settings.samples * settings.samples);
  json.raw(", \"png\": {\"file\": ").string(input.png_name);
  json.raw(", \"sha256\": ").string(input.png_sha256).raw("}},\n");
  json.raw("  \"objects\": [");
  for (std::size_t i = 0; i < input.objects.size(); ++i) {
    json.raw(i ? ",\n" : "\n");
    put_object(json, scene.objects[i], input.objects[i]);
  }
  json.raw(input.objects.empty() ? "]" : "\n  ]");
  put_groups(
      json, "collisions", scene, input.groups.seeds,
      [&](const CollisionGroup& g) { json.raw("\"seeds\": ").seeds(g.seeds); });
  put_groups(
      json, "colour_groups", scene, input.groups.colours,
      [&](const ColourGroup& g) { json.raw("\"hex\": ").string(g.hex); });
  json.raw("\n}\n");
  return json.take();
}

}  // namespace refhost
