#include "tools/common/png.h"

#include <algorithm>
#include <new>

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

namespace common {

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

std::string png_bytes(int width, int height,
                      const std::vector<std::uint8_t>& rgba) {
  std::string bytes;
  auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                               static_cast<std::size_t>(size));
  };
  stbi_write_png_to_func(append, &bytes, width, height, 4, rgba.data(),
                         width * 4);
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

}  // namespace common
