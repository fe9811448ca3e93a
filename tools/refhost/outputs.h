// The reference host's files, encoded (PNG, manifest, EXR) and committed.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/refhost/commit.h"
#include "tools/refhost/render.h"
#include "tools/refhost/report.h"
#include "tools/refhost/scene.h"

// The reference host's files: the object-ID image, the manifest and an
// optional EXR image, and how they replace what was there.
namespace refhost {

// The manifest's format; docs/manifest.md describes it.
inline constexpr int kManifestVersion = 2;

struct ManifestInput {
  const Scene& scene;
  const RenderSettings& settings;
  const std::vector<ObjectColour>& objects;
  const Groups& groups;
  const std::vector<Coverage>& coverage;  // by object
  const ClosePairs& close_pairs;
  double close_threshold;
  const std::string& png_name;  // the image the manifest belongs to
  const std::string& png_sha256;
};

// The PNG: sRGB-encoded colour, straight linear alpha, and the sRGB, gAMA
// and cHRM chunks that say so.
std::string png_bytes(const Image& image);
// A one-channel 16-bit PNG of linear values from 0 to 1 (a matte), marked
// linear with gAMA 1.0.
std::string png_grey16_bytes(int width, int height,
                             const std::vector<float>& values);
std::string manifest_text(const ManifestInput& input);
// The same JSON without any space or line break outside its strings.
std::string compact_json(const std::string& text);

// The OpenEXR image: RGBA as 32-bit float, premultiplied, with the manifest
// in the header attribute "ravelTint/manifest"; with `ranks`, also every
// object's coverage of every pixel, counted from its samples, as
// Cryptomatte layers of that many ranks.
std::string exr_bytes(const Image& image, const std::string& manifest,
                      const Scene& scene, int samples_per_pixel, int ranks);

}  // namespace refhost

// JSON written as text, piece by piece: a manifest of a million objects
// needs no document of them in memory.
namespace refhost {

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
  JsonText& number(double d) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, d).ptr;
    return raw(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
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

}  // namespace refhost
