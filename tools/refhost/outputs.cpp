#include "tools/refhost/outputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "tools/refhost/failure.h"
#include "tools/refhost/platform.h"

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

std::string hex_colour(const host::Colour& colour) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", to_byte(colour.red),
                to_byte(colour.green), to_byte(colour.blue));
  return hex;
}

std::string manifest_text(const ManifestInput& input) {
  using nlohmann::ordered_json;
  ordered_json objects = ordered_json::array();
  for (std::size_t i = 0; i < input.objects.size(); ++i) {
    const ObjectColour& o = input.objects[i];
    const host::Colour& c = o.colour;
    objects.push_back({{"name", input.scene.objects[i].name},
                       {"shape", shape_name(input.scene.objects[i].shape)},
                       {"seeds", o.seeds},
                       {"colour", {c.red, c.green, c.blue}},
                       {"hex", hex_colour(c)},
                       {"grey", is_grey(o.seeds)}});
  }
  ordered_json groups = ordered_json::array();
  for (const CollisionGroup& g : input.groups) {
    ordered_json names = ordered_json::array();
    for (std::size_t i : g.objects)
      names.push_back(input.scene.objects[i].name);
    groups.push_back({{"seeds", g.seeds}, {"objects", names}});
  }
  const ordered_json manifest = {
      {"shader",
       {{"name", "ravelTint"},
        {"version", 2},
        {"seed", input.scene.seed},
        {"grayscale", input.scene.grayscale}}},
      {"image",
       {{"width", input.settings.width},
        {"height", input.settings.height},
        {"samples_per_pixel",
         input.settings.samples * input.settings.samples}}},
      {"objects", objects},
      {"collisions", groups}};
  return manifest.dump(2) + "\n";
}

void write_atomically(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".partial";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file)
    throw Failure("cannot write " + path + ": " + std::strerror(errno));
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int error = errno;
  if (std::fclose(file) != 0 || !written) {
    std::remove(temporary.c_str());
    throw Failure("cannot write " + path + ": " + std::strerror(error));
  }
  const std::string rename_error = platform::replace_file(temporary, path);
  if (!rename_error.empty()) {
    std::remove(temporary.c_str());
    throw Failure("cannot write " + path + ": " + rename_error);
  }
}

}  // namespace refhost
