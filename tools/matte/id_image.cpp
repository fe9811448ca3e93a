#include "tools/matte/id_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "tools/common/colour.h"
#include "tools/common/errors.h"
#include "tools/common/exr_file.h"
#include "tools/common/quoting.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace matte {

using common::Failure;
using common::quote;

namespace {

std::string read_whole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    throw Failure(quote(path) + ": cannot read: " + std::strerror(errno));
  std::string bytes((std::istreambuf_iterator<char>(file)),
                    std::istreambuf_iterator<char>());
  if (file.bad())
    throw Failure(quote(path) + ": cannot read: " + std::strerror(errno));
  return bytes;
}

std::uint32_t big_endian(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// What a PNG's chunks say of its colour, and the first fault of their
// structure, in words ("" where there is none).
struct PngChunks {
  bool srgb = false;
  double gamma = 0;  // the gAMA chunk's, or 0
  bool srgb_primaries = false;
  std::string fault;
};

// Whether a cHRM chunk holds the sRGB (Rec. 709) primaries and D65 white,
// to its 5 decimals.
bool srgb_chromaticities(const std::string& bytes, std::size_t at) {
  const std::uint32_t expected[8] = {31270, 32900, 64000, 33000,
                                     30000, 60000, 15000, 6000};
  for (int i = 0; i < 8; ++i) {
    const std::int64_t v = big_endian(bytes, at + 4 * i);
    if (v < expected[i] - 10 || v > expected[i] + 10) return false;
  }
  return true;
}

PngChunks png_chunks(const std::string& bytes) {
  PngChunks chunks;
  bool data = false;
  for (std::size_t at = 8, n = 0; at < bytes.size(); ++n) {
    if (bytes.size() - at < 12) {
      chunks.fault = "truncated: it ends inside a chunk";
      return chunks;
    }
    const std::uint32_t length = big_endian(bytes, at);
    const std::string type = bytes.substr(at + 4, 4);
    const std::string shown = common::quote_short(type);
    if (length > 0x7fffffff) {
      chunks.fault = "its " + shown + " chunk claims " +
                     std::to_string(length) +
                     " bytes, more than a PNG chunk may hold";
      return chunks;
    }
    if (bytes.size() - at - 12 < length) {
      chunks.fault = "truncated: its " + shown + " chunk claims " +
                     std::to_string(length) + " bytes, and the file holds " +
                     std::to_string(bytes.size() - at - 12) + " more";
      return chunks;
    }
    if (n == 0 && type != "IHDR") {
      chunks.fault = "its first chunk is " + shown + ", not IHDR";
      return chunks;
    }
    if (type == "IEND") return chunks;
    if (type == "IDAT") data = true;
    if (!data && type == "sRGB") chunks.srgb = true;
    if (!data && type == "gAMA" && length == 4)
      chunks.gamma = big_endian(bytes, at + 8) / 100000.0;
    if (!data && type == "cHRM" && length == 32)
      chunks.srgb_primaries = srgb_chromaticities(bytes, at + 8);
    at += 12 + static_cast<std::size_t>(length);
  }
  chunks.fault = data ? "truncated: it ends before its IEND chunk"
                      : "truncated: it ends before its image data";
  return chunks;
}

// Each code's linear value, and the boundaries between codes, once; then
// every pixel premultiplied.
void set_linear(IdImage& image) {
  const int codes = image.full_code();
  image.boundaries.resize(static_cast<std::size_t>(codes));
  for (int k = 0; k < codes; ++k)
    image.boundaries[static_cast<std::size_t>(k)] =
        decode_encoded(image, (k + 0.5) / codes);
  std::vector<float> linear(static_cast<std::size_t>(image.full_code()) + 1);
  for (std::size_t c = 0; c < linear.size(); ++c)
    linear[c] = static_cast<float>(decode_code(image, static_cast<int>(c)));
  const std::size_t values = image.pixels() * 4;
  image.rgba.resize(values);
  const float full = static_cast<float>(image.full_code());
  for (std::size_t p = 0; p < image.pixels(); ++p) {
    const float alpha = image.codes[4 * p + 3] / full;
    for (int c = 0; c < 3; ++c)
      image.rgba[4 * p + c] = linear[image.codes[4 * p + c]] * alpha;
    image.rgba[4 * p + 3] = alpha;
  }
}

IdImage read_png(const std::string& path, const std::string& bytes) {
  const PngChunks chunks = png_chunks(bytes);
  if (!chunks.fault.empty())
    throw Failure(quote(path) + ": not a readable PNG image (" + chunks.fault +
                  ")");
  IdImage image;
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  const int size = static_cast<int>(bytes.size());
  const bool deep = stbi_is_16_bit_from_memory(data, size) != 0;
  int channels = 0;
  void* pixels =
      deep ? static_cast<void*>(stbi_load_16_from_memory(
                 data, size, &image.width, &image.height, &channels, 4))
           : static_cast<void*>(stbi_load_from_memory(
                 data, size, &image.width, &image.height, &channels, 4));
  if (!pixels) {
    const std::string reason = stbi_failure_reason();
    throw Failure(quote(path) + ": not a readable PNG image (" +
                  (reason == "outofmem" ? "out of memory"
                   : reason.empty()     ? "its image data cannot be decoded"
                                        : reason) +
                  ")");
  }
  image.encoding = deep ? Encoding::kShort : Encoding::kByte;
  // sRGB where it says so or says nothing, else its gAMA: but a gAMA of
  // 1/2.2, as sRGB files give beside the sRGB chunk, next to the sRGB
  // primaries is an sRGB file that lost that chunk on its way.
  if (!chunks.srgb && chunks.gamma > 0) {
    image.gamma_was_srgb =
        chunks.srgb_primaries && std::fabs(chunks.gamma * 100000 - 45455) <= 1;
    if (!image.gamma_was_srgb) image.gamma = chunks.gamma;
  }
  const std::size_t values = image.pixels() * 4;
  image.codes.resize(values);
  for (std::size_t i = 0; i < values; ++i)
    image.codes[i] = deep ? static_cast<const stbi_us*>(pixels)[i]
                          : static_cast<const stbi_uc*>(pixels)[i];
  stbi_image_free(pixels);
  set_linear(image);
  return image;
}

IdImage read_exr_image(const std::string& path, const std::string& layer) {
  common::ExrRgba exr = common::read_exr_rgba(path, layer);
  IdImage image;
  image.width = exr.width;
  image.height = exr.height;
  image.windows = exr.windows;
  image.encoding = exr.half ? Encoding::kHalf : Encoding::kFloat;
  image.rgba = std::move(exr.rgba);
  image.layer = exr.layer;
  const auto manifest = exr.attributes.find("ravelTint/manifest");
  if (manifest != exr.attributes.end()) image.manifest = manifest->second;
  return image;
}

}  // namespace

double decode_encoded(const IdImage& image, double encoded) {
  if (image.gamma > 0) return std::pow(encoded, 1.0 / image.gamma);
  return common::srgb_decode(encoded);
}

double decode_code(const IdImage& image, int code) {
  return decode_encoded(image, static_cast<double>(code) / image.full_code());
}

int encode_code(const IdImage& image, double linear) {
  if (image.encoding == Encoding::kByte && image.gamma == 0)
    return common::srgb_byte(linear);  // the same boundaries, precomputed
  const auto& b = image.boundaries;
  return static_cast<int>(std::upper_bound(b.begin(), b.end(), linear) -
                          b.begin());
}

IdImage read_id_image(const std::string& path, const std::string& layer) {
  std::ifstream probe(path, std::ios::binary);
  if (!probe) throw Failure(quote(path) + ": no such file, or not readable");
  char start[8] = {};
  probe.read(start, sizeof start);
  if (std::string(start, 8) == "\x89PNG\r\n\x1a\n") {
    if (!layer.empty())
      throw common::UsageFailure("--layer " + common::quote_short(layer) +
                                 ": " + quote(path) +
                                 " is a PNG, which has no layers");
    const std::string bytes = read_whole(path);
    return read_png(path, bytes);
  }
  if (std::memcmp(start, "\x76\x2f\x31\x01", 4) == 0)
    return read_exr_image(path, layer);
  throw Failure(quote(path) + ": neither an EXR nor a PNG image");
}

}  // namespace matte
