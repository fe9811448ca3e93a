#include "tools/refhost/outputs.h"

#include <cstdio>
#include <nlohmann/json.hpp>

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
  auto names_of = [&](const std::vector<std::size_t>& members) {
    ordered_json names = ordered_json::array();
    for (std::size_t i : members) names.push_back(input.scene.objects[i].name);
    return names;
  };
  ordered_json seed_groups = ordered_json::array();
  for (const CollisionGroup& g : input.groups.seeds)
    seed_groups.push_back(
        {{"seeds", g.seeds}, {"objects", names_of(g.objects)}});
  ordered_json colour_groups = ordered_json::array();
  for (const ColourGroup& g : input.groups.colours)
    colour_groups.push_back({{"hex", g.hex}, {"objects", names_of(g.objects)}});
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
      {"collisions", seed_groups},
      {"colour_groups", colour_groups}};
  return manifest.dump(2, ' ', false, ordered_json::error_handler_t::replace) +
         "\n";
}

}  // namespace refhost
