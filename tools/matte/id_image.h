// An object-ID image as the matte tool reads it: premultiplied linear RGBA
// floats, and how the file encoded them, which bounds how exactly a pixel
// can be explained.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/exr_file.h"
#include "tools/common/unzeroed.h"

namespace matte {

enum class Encoding { kFloat, kHalf, kByte, kShort };

struct IdImage {
  int width = 0, height = 0;
  // Where an EXR's pixels lie in its frame; outputs keep it.
  common::ExrWindows windows;
  Encoding encoding = Encoding::kFloat;
  // Premultiplied linear RGBA, four floats a pixel.
  common::UnzeroedVector<float> rgba;
  // A PNG's own codes, four a pixel: straight colour on its transfer curve,
  // and alpha; empty for an EXR.
  std::vector<std::uint16_t> codes;
  // The manifest that an EXR of the reference host carries, if any.
  std::string manifest;
  // The EXR layer it was read from ("" for bare R, G, B, A).
  std::string layer;
  // A PNG's transfer curve: 0 for sRGB, else the gamma its gAMA gives.
  double gamma = 0;
  // A PNG whose gAMA of 1/2.2 beside the sRGB primaries was read as sRGB.
  bool gamma_was_srgb = false;
  // A PNG's curve as the linear values halfway between neighbouring codes:
  // the one model of its encoding, both ways.
  std::vector<double> boundaries;

  std::size_t pixels() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }
  // Whether every value of pixel `p` is a number (NaN and infinity fit no
  // colour, and are none).
  bool finite(std::size_t p) const {
    for (int c = 0; c < 4; ++c)
      if (!std::isfinite(rgba[4 * p + c])) return false;
    return true;
  }
  // The largest code of a PNG (255 or 65535).
  int full_code() const { return encoding == Encoding::kByte ? 255 : 65535; }
};

// Reads an EXR (float or half, lossless compression only; the layer
// `layer`, or its one layer of colour) or a PNG (8 or 16 bits; straight
// alpha made premultiplied; decoded as its sRGB or gAMA chunk says, sRGB
// without either). Throws common::Failure naming the file.
IdImage read_id_image(const std::string& path, const std::string& layer = "");

// A linear value on a PNG's transfer curve, as that PNG's code: the number
// of boundaries it does not lie below.
int encode_code(const IdImage& image, double linear);
// The linear value of a PNG's code.
double decode_code(const IdImage& image, int code);
// The linear value of an encoded value from 0 to 1 on a PNG's curve.
double decode_encoded(const IdImage& image, double encoded);

}  // namespace matte
