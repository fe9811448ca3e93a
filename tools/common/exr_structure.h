// The structure of an EXR file, read and checked from its bytes before any
// pixel is decoded: its parts, each part's channels, windows, compression
// and string attributes, and a table of chunks that lies within the file.
// Both builds read it with this code, whatever library decodes the pixels,
// so a file is refused for the same reason, in the same words, on every
// target.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/exr_file.h"

namespace common {

enum class ExrPixelType { kUint = 0, kHalf = 1, kFloat = 2 };

struct ExrChannel {
  std::string name;
  ExrPixelType type = ExrPixelType::kFloat;
};

struct ExrPart {
  std::string name;                  // the part's name, if it has one
  std::vector<ExrChannel> channels;  // in the file's order
  int compression = 0;               // the file's code: 0 none, 3 ZIP, ...
  int width = 0, height = 0;         // of the data window
  ExrWindows windows;
  bool tiled = false;
  int tile_width = 0, tile_height = 0;
  std::int64_t chunk_count = 0;  // as a part of a multi-part file says
  std::map<std::string, std::string> strings;  // the string attributes
};

struct ExrStructure {
  bool multipart = false;
  std::vector<ExrPart> parts;
};

// Why a file's structure is refused, in words for "not a readable EXR image
// (...)"; or, where `lossy_compression` is set, the name of the lossy
// compression its pixels were stored with.
struct ExrFault {
  std::string reason;
  std::string lossy_compression;
};

// Throws ExrFault.
ExrStructure exr_structure(std::string_view bytes);

// The compressions that keep every value: none, RLE, ZIPS, ZIP and PIZ.
bool exr_lossless(int compression);

}  // namespace common
