// OpenEXR images in and out, as float channels: the reference host's float
// image and Cryptomatte, and the matte tool's inputs and outputs. Every
// build reads and writes them alike, whichever library is behind it (see
// exr_codec.h).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/common/unzeroed.h"

namespace common {

// Where an image's pixels lie: its data window's corner, and the display
// window it belongs to (an image cropped from a larger frame keeps the
// frame's), in pixels, corners inclusive.
struct ExrWindows {
  int x = 0, y = 0;  // the data window's first pixel
  bool display_given = false;
  int display_x0 = 0, display_y0 = 0, display_x1 = 0, display_y1 = 0;
};

// A picture to write: channels that point into the caller's floats, each
// with the distance in floats from one pixel to the next, and string
// attributes for its header.
struct ExrPicture {
  struct Channel {
    std::string name;
    const float* first;
    std::size_t stride;   // floats from one pixel to the next
    bool banded = false;  // holds a band of rows, not the whole picture
  };
  int width = 0, height = 0;
  ExrWindows windows;  // by default the data window is the display window
  std::vector<Channel> channels;
  std::vector<std::pair<std::string, std::string>> attributes;
  // Channels too large to hold whole (a 4K frame's Cryptomatte is 400 MB)
  // may be made a band of rows at a time: before each band is written,
  // `fill_band(first_row, rows)` sets its rows into the banded channels,
  // which hold `band_rows` rows, the band's first row first.
  int band_rows = 0;
  std::function<void(int first_row, int rows)> fill_band;
};

// The picture as the bytes of an EXR file (ZIP-compressed 32-bit floats,
// sRGB primaries and D65 white), to be committed like any output. Throws
// Failure.
std::string exr_bytes(const ExrPicture& picture);

// A picture read whole: every channel as floats (half channels converted
// exactly), whether any was half, and the header's string attributes.
struct ExrImage {
  int width = 0, height = 0;
  ExrWindows windows;
  bool half = false;
  std::map<std::string, std::vector<float>> channels;
  std::map<std::string, std::string> attributes;
};

// Reads the first part of an EXR file: scanlines or tiles of one level,
// compressed with none, RLE, ZIPS, ZIP or PIZ (the lossy compressions
// change the colours that name objects, and are refused). Throws Failure
// naming the file.
ExrImage read_exr(const std::string& path);

// The R, G, B and A channels of one layer of an EXR read straight into four
// floats a pixel (A is 1 where the layer has none), with the string
// attributes of its part. The layer is `layer`, or the one layer of colour
// the file holds (see exr_layers.h).
struct ExrRgba {
  int width = 0, height = 0;
  ExrWindows windows;
  bool half = false;
  std::string layer;           // the layer read; "" for bare R, G, B, A
  UnzeroedVector<float> rgba;  // every value read from the file
  std::map<std::string, std::string> attributes;
};
ExrRgba read_exr_rgba(const std::string& path, const std::string& layer = "");

// Lets the EXR library compress and decompress on `threads` threads.
void set_exr_threads(int threads);

}  // namespace common
