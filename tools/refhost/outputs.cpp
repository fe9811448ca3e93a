#include "tools/refhost/outputs.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>

#include "tools/refhost/cryptomatte.h"
#include "tools/refhost/exr_file.h"
#include "tools/refhost/library.h"
#include "tools/refhost/platform.h"
#include "tools/refhost/text.h"

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

namespace {

std::uint32_t crc32(const unsigned char* bytes, std::size_t n) {
  std::uint32_t crc = 0xffffffffu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void put_be32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out += static_cast<char>((value >> shift) & 0xff);
}

// A PNG chunk: length, type, data and the CRC of type and data.
std::string chunk(const char* type, const std::string& data) {
  std::string body = std::string(type, 4) + data;
  std::string out;
  put_be32(out, static_cast<std::uint32_t>(data.size()));
  out += body;
  put_be32(out, crc32(reinterpret_cast<const unsigned char*>(body.data()),
                      body.size()));
  return out;
}

// What the PNG holds: sRGB, said three ways. sRGB for every reader that
// knows it; gAMA (1/2.2) and cHRM (the sRGB primaries and D65 white, in
// hundred-thousandths) for those that do not.
std::string colour_space_chunks() {
  std::string gamma, primaries;
  put_be32(gamma, 45455);
  for (std::uint32_t v :
       {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u})
    put_be32(primaries, v);
  return chunk("sRGB", std::string(1, '\0')) + chunk("gAMA", gamma) +
         chunk("cHRM", primaries);
}

}  // namespace

std::string png_bytes(const Image& image) {
  std::string bytes;
  auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                               static_cast<std::size_t>(size));
  };
  stbi_write_png_to_func(append, &bytes, image.width, image.height, 4,
                         image.rgba.data(), image.width * 4);
  // The colour-space chunks go right after IHDR (8 bytes of signature, then
  // 25 of IHDR), before the image data, as PNG requires.
  constexpr std::size_t kAfterHeader = 8 + 25;
  bytes.insert(kAfterHeader, colour_space_chunks());
  return bytes;
}

std::string png_grey16_bytes(int width, int height,
                             const std::vector<float>& values) {
  std::string rows;
  rows.reserve(static_cast<std::size_t>(width * 2 + 1) * height);
  for (int y = 0; y < height; ++y) {
    rows += '\0';  // no filter
    for (int x = 0; x < width; ++x) {
      const double v = std::clamp(
          static_cast<double>(values[static_cast<std::size_t>(y) * width + x]),
          0.0, 1.0);
      const auto code = static_cast<std::uint16_t>(v * 65535.0 + 0.5);
      rows += static_cast<char>(code >> 8);
      rows += static_cast<char>(code & 0xff);
    }
  }
  int size = 0;
  unsigned char* packed =
      stbi_zlib_compress(reinterpret_cast<unsigned char*>(rows.data()),
                         static_cast<int>(rows.size()), &size, 8);
  if (!packed) throw std::bad_alloc();
  const std::string data(reinterpret_cast<const char*>(packed),
                         static_cast<std::size_t>(size));
  STBIW_FREE(packed);
  std::string header;
  put_be32(header, static_cast<std::uint32_t>(width));
  put_be32(header, static_cast<std::uint32_t>(height));
  header += std::string("\x10\x00\x00\x00\x00", 5);  // 16-bit grey
  // Coverage is linear: gAMA 1.0 says so to every reader.
  std::string gamma;
  put_be32(gamma, 100000);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) +
         chunk("gAMA", gamma) + chunk("IDAT", data) + chunk("IEND", "");
}

std::string compact_json(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool in_string = false, escaped = false;
  for (const char c : text) {
    if (in_string) {
      out += c;
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c != ' ' && c != '\n') {
      out += c;
      in_string = c == '"';
    }
  }
  return out;
}

namespace {

constexpr const char* kLinearSpace =
    "linear sRGB: Rec. 709 primaries, D65 white, no transfer curve";
constexpr const char* kEncodedSpace =
    "sRGB: the sRGB transfer curve, 8 bits a channel, as the PNG holds it";

void put_object(JsonText& json, const Scene& scene, std::size_t index,
                const ObjectColour& o, const Coverage& coverage,
                int samples_per_pixel) {
  const Object& object = scene.objects[index];
  const host::Colour& c = o.colour;
  json.raw("    {\"index\": ").number(static_cast<long long>(index));
  json.raw(", \"name\": ").string(object.name);
  json.raw(", \"shape\": ").string(shape_name(object.shape));
  json.raw(", \"seed\": ")
      .number(static_cast<long long>(object.seed.value_or(scene.seed)));
  json.raw(", \"seeds\": ").seeds(o.seeds);
  json.raw(", \"colour\": [").number(c.red).raw(", ").number(c.green);
  json.raw(", ").number(c.blue).raw("], \"hex\": ").string(hex_colour(c));
  json.raw(", \"grey\": ").boolean(is_grey(o.seeds));
  json.raw(", \"pixels\": ").number(static_cast<long long>(coverage.pixels));
  json.raw(", \"coverage\": ")
      .number(static_cast<double>(coverage.samples) / samples_per_pixel)
      .raw("}");
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

}  // namespace

std::string manifest_text(const ManifestInput& input) {
  const Scene& scene = input.scene;
  const RenderSettings& settings = input.settings;
  JsonText json;
  json.raw("{\n  \"manifest_version\": ").number(kManifestVersion);
  json.raw(",\n  \"colour_spaces\": {\"colour\": ").string(kLinearSpace);
  json.raw(", \"hex\": ").string(kEncodedSpace).raw("},\n");
  json.raw("  \"shader\": {\"name\": \"ravelTint\", \"version\": ")
      .number(kShaderVersion)
      .raw(", ")
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
  const int samples = settings.samples * settings.samples;
  for (std::size_t i = 0; i < input.objects.size(); ++i) {
    json.raw(i ? ",\n" : "\n");
    put_object(json, scene, i, input.objects[i], input.coverage[i], samples);
  }
  json.raw(input.objects.empty() ? "]" : "\n  ]");
  put_groups(
      json, "collisions", input.groups.seeds,
      [&](const CollisionGroup& g) { json.raw("\"seeds\": ").seeds(g.seeds); });
  put_groups(
      json, "colour_groups", input.groups.colours,
      [&](const ColourGroup& g) { json.raw("\"hex\": ").string(g.hex); });
  json.raw(",\n  \"close_threshold\": ").number(input.close_threshold);
  json.raw(",\n  \"close_pairs\": [");
  const std::vector<ClosePair>& pairs = input.close_pairs.pairs;
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
      .number(static_cast<long long>(input.close_pairs.left_out));
  json.raw(",\n  \"close_pairs_touching_only\": ")
      .boolean(input.close_pairs.touching_only);
  json.raw("\n}\n");
  return json.take();
}

namespace {

// Each pixel's objects, by ID (objects of one name are one ID), with their
// share of the pixel's samples.
RankedCoverage coverage_of(const Image& image, const Scene& scene,
                           int samples_per_pixel, int ranks) {
  std::vector<std::uint32_t> ids;
  ids.reserve(scene.objects.size());
  for (const Object& o : scene.objects) ids.push_back(cryptomatte_id(o.name));
  RankedCoverage coverage(image.width, image.height, ranks);
  std::vector<std::pair<std::uint32_t, float>> pixel;
  for (int y = 0; y < image.height; ++y) {
    const std::vector<PixelView> row = pixels_of(image.objects[y]);
    for (int x = 0; x < image.width; ++x) {
      const PixelView& view = row[x];
      pixel.clear();
      for (std::uint32_t i = 0; i < view.count; ++i) {
        const std::uint32_t id = ids[view.first[i]];
        auto same = std::find_if(pixel.begin(), pixel.end(),
                                 [&](const auto& p) { return p.first == id; });
        if (same == pixel.end()) same = pixel.insert(pixel.end(), {id, 0.0f});
        same->second += static_cast<float>(view.samples(i));
      }
      for (auto& p : pixel) p.second /= static_cast<float>(samples_per_pixel);
      coverage.set(static_cast<std::size_t>(y) * image.width + x, pixel);
    }
  }
  return coverage;
}

}  // namespace

std::string exr_bytes(const Image& image, const std::string& manifest,
                      const Scene& scene, int samples_per_pixel, int ranks) {
  ExrPicture picture;
  picture.width = image.width;
  picture.height = image.height;
  for (int c = 0; c < 4; ++c)
    picture.channels.push_back(
        {std::string(1, "RGBA"[c]), image.premultiplied.data() + c, 4});
  picture.attributes.emplace_back("ravelTint/manifest", manifest);
  if (ranks == 0) return exr_bytes(picture);
  const RankedCoverage coverage =
      coverage_of(image, scene, samples_per_pixel, ranks);
  std::vector<std::pair<std::string, std::uint32_t>> ids;
  ids.reserve(scene.objects.size());
  for (const Object& o : scene.objects)
    ids.emplace_back(o.name, cryptomatte_id(o.name));
  add_cryptomatte(picture, coverage, ids);
  return exr_bytes(picture);
}

}  // namespace refhost
