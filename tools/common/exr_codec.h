// The libraries behind EXR pixels. The Linux build decodes and encodes with
// OpenEXR; the Windows build, for which Debian ships no OpenEXR, decodes
// with tinyexr and encodes with this project's own writer of ZIP scanlines,
// which writes the bytes OpenEXR writes. exr_file.cpp chooses one and
// hides it; each is called only on a file whose structure exr_structure
// has checked.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/exr_file.h"
#include "tools/common/exr_structure.h"

namespace common {

// Where one channel's floats go: the data window's first pixel at `first`,
// `stride` floats from one pixel to the next, rows one after another. A
// plane of no channel is filled with `fill`.
struct ExrPlane {
  std::string channel;
  float* first;
  std::size_t stride;
  float fill = 0;
};

// Each decoder writes every plane of part `part` of the file `bytes`, or
// throws ExrFault (pixel data that cannot be decoded) or std::bad_alloc.
// The memory after `bytes` holds kExrReadSlack more bytes, zeros, which a
// decoder may read past a damaged chunk without leaving memory of its own.
inline constexpr std::size_t kExrReadSlack = 1 << 16;
namespace exr_openexr {
void decode(std::string_view bytes, int part, const ExrStructure& structure,
            const std::vector<ExrPlane>& planes);
std::string encode(const ExrPicture& picture);
void set_threads(int threads);
}  // namespace exr_openexr

namespace exr_tinyexr {
void decode(std::string_view bytes, int part, const ExrStructure& structure,
            const std::vector<ExrPlane>& planes);
}  // namespace exr_tinyexr

namespace exr_zip_writer {
std::string encode(const ExrPicture& picture);
void set_threads(int threads);  // compressing chunks
}  // namespace exr_zip_writer

}  // namespace common
