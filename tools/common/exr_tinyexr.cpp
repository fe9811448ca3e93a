// EXR pixels through tinyexr, Debian's header-only EXR library, with
// Debian's zlib: the Windows build's decoder. tinyexr decodes a whole part,
// every channel, into planes of its own; they are copied into the caller's.
#define TINYEXR_IMPLEMENTATION
#define TINYEXR_USE_MINIZ 0
#define TINYEXR_USE_PIZ 1
#define TINYEXR_USE_ZFP 0
#define TINYEXR_USE_THREAD 0
#include <tinyexr.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "tools/common/exr_codec.h"

namespace common::exr_tinyexr {

namespace {

[[noreturn]] void undecodable(const char* message) {
  if (message) FreeEXRErrorMessage(message);
  throw ExrFault{"its pixel data cannot be decoded", ""};
}

// The headers tinyexr parsed, freed however the decoding ends.
struct Headers {
  std::vector<EXRHeader*> parts;
  EXRHeader** owned = nullptr;  // a multi-part file's array
  EXRHeader single;
  ~Headers() {
    for (EXRHeader* h : parts) {
      FreeEXRHeader(h);
      if (owned) std::free(h);
    }
    std::free(owned);
  }
};

struct Images {
  std::vector<EXRImage> parts;
  ~Images() {
    for (EXRImage& image : parts) FreeEXRImage(&image);
  }
  // tinyexr frees a failed load's planes by the image's count of channels,
  // which it sets only once the load is done: set beforehand, nothing that
  // a failure leaves is lost.
  void prepare(std::size_t i, const EXRHeader& header) {
    InitEXRImage(&parts[i]);
    parts[i].num_channels = header.num_channels;
  }
  // A single part's load that failed has freed what it made, without
  // forgetting it.
  [[noreturn]] void failed(const char* message) {
    for (EXRImage& image : parts) InitEXRImage(&image);
    undecodable(message);
  }
};

float value_at(const unsigned char* plane, int type, std::size_t i) {
  if (type == TINYEXR_PIXELTYPE_UINT) {
    unsigned int v;
    std::memcpy(&v, plane + 4 * i, 4);
    return static_cast<float>(v);
  }
  float v;
  std::memcpy(&v, plane + 4 * i, 4);
  return v;
}

// Copies one tinyexr plane, `width` values a row, into the caller's plane,
// from (x0, y0) of the data window on, clipped to it.
void copy_block(const unsigned char* from, int type, int width, int rows,
                int columns, long x0, long y0, const ExrPart& part,
                const ExrPlane& plane) {
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < columns; ++i) {
      const long x = x0 + i, y = y0 + j;
      if (x < 0 || y < 0 || x >= part.width || y >= part.height) continue;
      plane.first[(static_cast<std::size_t>(y) * part.width + x) *
                  plane.stride] =
          value_at(from, type, static_cast<std::size_t>(j) * width + i);
    }
}

void copy_planes(const EXRHeader& header, const EXRImage& image,
                 const ExrPart& part, const std::vector<ExrPlane>& planes) {
  if (image.width != part.width || image.height != part.height)
    undecodable(nullptr);
  const std::size_t pixels = static_cast<std::size_t>(part.width) * part.height;
  for (const ExrPlane& plane : planes) {
    int c = 0;
    while (c < header.num_channels && plane.channel != header.channels[c].name)
      ++c;
    if (c == header.num_channels) {  // no such channel: its fill
      for (std::size_t p = 0; p < pixels; ++p)
        plane.first[p * plane.stride] = plane.fill;
      continue;
    }
    const int type = header.pixel_types[c];
    if (!image.tiles) {
      if (!image.images || !image.images[c]) undecodable(nullptr);
      copy_block(image.images[c], type, part.width, part.height, part.width, 0,
                 0, part, plane);
      continue;
    }
    for (int t = 0; t < image.num_tiles; ++t) {
      const EXRTile& tile = image.tiles[t];
      if (!tile.images || !tile.images[c]) undecodable(nullptr);
      copy_block(tile.images[c], type, header.tile_size_x,
                 std::min(tile.height, header.tile_size_y),
                 std::min(tile.width, header.tile_size_x),
                 static_cast<long>(tile.offset_x) * header.tile_size_x,
                 static_cast<long>(tile.offset_y) * header.tile_size_y, part,
                 plane);
    }
  }
}

// Half channels are asked for as floats; the others come as they are.
void ask_floats(EXRHeader& header) {
  for (int c = 0; c < header.num_channels; ++c)
    if (header.pixel_types[c] == TINYEXR_PIXELTYPE_HALF)
      header.requested_pixel_types[c] = TINYEXR_PIXELTYPE_FLOAT;
}

}  // namespace

void decode(std::string_view bytes, int part, const ExrStructure& structure,
            const std::vector<ExrPlane>& planes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  const char* message = nullptr;
  EXRVersion version;
  if (ParseEXRVersionFromMemory(&version, data, size) != TINYEXR_SUCCESS)
    undecodable(nullptr);
  Headers headers;
  Images images;
  try {
    if (!structure.multipart) {
      InitEXRHeader(&headers.single);
      headers.parts.push_back(&headers.single);
      if (ParseEXRHeaderFromMemory(&headers.single, &version, data, size,
                                   &message) != TINYEXR_SUCCESS)
        undecodable(message);
      ask_floats(headers.single);
      images.parts.resize(1);
      images.prepare(0, headers.single);
      if (LoadEXRImageFromMemory(&images.parts[0], &headers.single, data, size,
                                 &message) != TINYEXR_SUCCESS)
        images.failed(message);
    } else {
      int count = 0;
      if (ParseEXRMultipartHeaderFromMemory(&headers.owned, &count, &version,
                                            data, size,
                                            &message) != TINYEXR_SUCCESS)
        undecodable(message);
      headers.parts.assign(headers.owned, headers.owned + count);
      if (count != static_cast<int>(structure.parts.size()))
        undecodable(nullptr);
      for (EXRHeader* h : headers.parts) ask_floats(*h);
      images.parts.resize(static_cast<std::size_t>(count));
      for (std::size_t i = 0; i < images.parts.size(); ++i)
        images.prepare(i, *headers.parts[i]);
      if (LoadEXRMultipartImageFromMemory(
              images.parts.data(), const_cast<const EXRHeader**>(headers.owned),
              static_cast<unsigned int>(count), data, size,
              &message) != TINYEXR_SUCCESS)
        undecodable(message);  // what it made is freed below
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const ExrFault&) {
    throw;
  } catch (const std::exception&) {
    undecodable(nullptr);
  }
  const std::size_t p = static_cast<std::size_t>(part);
  copy_planes(*headers.parts[p], images.parts[p], structure.parts[p], planes);
}

}  // namespace common::exr_tinyexr
