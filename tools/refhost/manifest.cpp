#include "tools/refhost/manifest.h"

#include <cstdio>

#include "tools/common/colour.h"
#include "tools/common/json_text.h"
#include "tools/refhost/library.h"

namespace refhost {

using common::hex_colour;
using common::JsonText;

namespace {

constexpr const char* kLinearSpace =
    "linear sRGB: Rec. 709 primaries, D65 white, no transfer curve";
constexpr const char* kEncodedSpace =
    "sRGB: the sRGB transfer curve, 8 bits a channel, as the PNG holds it";

void put_shader(JsonText& json, const Scene& scene) {
  json.raw(",\n  \"shader\": {\"name\": \"ravelTint\", \"version\": ")
      .number(kShaderVersion)
      .raw(", \"seed\": ")
      .number(static_cast<long long>(scene.seed))
      .raw(", \"grayscale\": ")
      .boolean(scene.grayscale)
      .raw("}");
}

void put_image(JsonText& json, const RenderFacts& render) {
  const RenderSettings& settings = render.settings;
  json.raw(",\n  \"image\": {\"width\": ").number(settings.width);
  json.raw(", \"height\": ").number(settings.height);
  json.raw(", \"samples_per_pixel\": ")
      .number(settings.samples * settings.samples);
  json.raw(", \"png\": {\"file\": ").string(render.png_name);
  json.raw(", \"sha256\": ").string(render.png_sha256).raw("}}");
}

// An object: its name and seeds, and from a render its shape, colour and
// coverage too.
void put_object(JsonText& json, const ManifestInput& input, std::size_t index) {
  const Object& object = input.scene.objects[index];
  const ObjectColour& o = input.objects[index];
  const RenderFacts* render = input.render;
  json.raw("    {\"index\": ").number(static_cast<long long>(index));
  json.raw(", \"name\": ").string(object.name);
  if (render) json.raw(", \"shape\": ").string(shape_name(object.shape));
  json.raw(", \"seed\": ")
      .number(static_cast<long long>(object.seed.value_or(input.scene.seed)));
  json.raw(", \"seeds\": ").seeds(o.seeds);
  if (render) {
    const host::Colour& c = o.colour;
    json.raw(", \"colour\": [").number(c.red).raw(", ").number(c.green);
    json.raw(", ")
        .number(c.blue)
        .raw("], \"hex\": ")
        .string(hex_colour(o.rgb()));
  }
  json.raw(", \"grey\": ").boolean(is_grey(o.seeds));
  if (render) {
    const Coverage& coverage = render->coverage[index];
    const int samples = render->settings.samples * render->settings.samples;
    json.raw(", \"pixels\": ").number(static_cast<long long>(coverage.pixels));
    json.raw(", \"coverage\": ")
        .number(static_cast<double>(coverage.samples) / samples);
  }
  json.raw("}");
}

template <typename Group, typename Key>
void put_groups(JsonText& json, const char* name,
                const std::vector<Group>& groups, Key put_key) {
  json.raw(",\n  \"").raw(name).raw("\": [");
  for (std::size_t g = 0; g < groups.size(); ++g) {
    json.raw(g ? ",\n    {" : "\n    {");
    put_key(groups[g]);
    json.raw(", \"objects\": ").list(groups[g].objects, [&](std::size_t i) {
      json.number(static_cast<long long>(i));
    });
    json.raw("}");
  }
  json.raw(groups.empty() ? "]" : "\n  ]");
}

void put_close_pairs(JsonText& json, const RenderFacts& render) {
  json.raw(",\n  \"close_threshold\": ").number(render.close_threshold);
  json.raw(",\n  \"close_pairs\": [");
  const std::vector<ClosePair>& pairs = render.close_pairs.pairs;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const ClosePair& pair = pairs[i];
    char difference[32];
    std::snprintf(difference, sizeof difference, "%.2f", pair.difference);
    json.raw(i ? ",\n    {\"objects\": [" : "\n    {\"objects\": [")
        .number(static_cast<long long>(pair.first))
        .raw(", ")
        .number(static_cast<long long>(pair.second))
        .raw("], \"difference\": ")
        .raw(difference)
        .raw(", \"touching\": ")
        .boolean(pair.touching)
        .raw("}");
  }
  json.raw(pairs.empty() ? "]" : "\n  ]");
  json.raw(",\n  \"close_pairs_left_out\": ")
      .number(static_cast<long long>(render.close_pairs.left_out));
  json.raw(",\n  \"close_pairs_touching_only\": ")
      .boolean(render.close_pairs.touching_only);
}

}  // namespace

std::string manifest_text(const ManifestInput& input, std::string* compact) {
  const RenderFacts* render = input.render;
  JsonText json(compact != nullptr);
  json.raw("{\n  \"manifest_version\": ").number(kManifestVersion);
  if (render) {
    json.raw(",\n  \"colour_spaces\": {\"colour\": ").string(kLinearSpace);
    json.raw(", \"hex\": ").string(kEncodedSpace).raw("}");
  } else {
    json.raw(",\n  \"names\": ").string(input.names_file);
  }
  put_shader(json, input.scene);
  if (render) put_image(json, *render);
  json.raw(",\n  \"objects\": [");
  for (std::size_t i = 0; i < input.objects.size(); ++i) {
    json.raw(i ? ",\n" : "\n");
    put_object(json, input, i);
  }
  json.raw(input.objects.empty() ? "]" : "\n  ]");
  put_groups(
      json, "collisions", input.groups.seeds,
      [&](const CollisionGroup& g) { json.raw("\"seeds\": ").seeds(g.seeds); });
  if (render) {
    put_groups(
        json, "colour_groups", input.groups.colours,
        [&](const ColourGroup& g) { json.raw("\"hex\": ").string(g.hex); });
    put_close_pairs(json, *render);
  }
  json.raw("\n}\n");
  if (compact) *compact = json.take_compact();
  return json.take();
}

}  // namespace refhost
