// EXR files written as OpenEXR writes this project's pictures, byte for
// byte: one part of 32-bit float scanlines, ZIP-compressed 16 lines to a
// chunk (each line's channels in name order, bytes split into odd and even
// halves, each byte stored as its difference from the last, deflated at
// level 4, or kept raw where that is no smaller), after a header of
// attributes in name order and a table of the chunks' offsets. The Windows
// build writes with it; zlib is its one library.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <new>

#include "tools/common/exr_codec.h"
#include "tools/common/workers.h"

namespace common::exr_zip_writer {

namespace {

constexpr int kLinesPerChunk = 16;
constexpr int kZipLevel = 4;
constexpr int kLongestShortName = 31;
constexpr int kChunksAtOnce = 16;  // compressed together, on every thread

std::atomic<int> writing_threads{1};

void put_int(std::string& out, std::int32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<char>((static_cast<std::uint32_t>(v) >> 8 * i)));
}

void put_float(std::string& out, float f) {
  std::int32_t v;
  std::memcpy(&v, &f, 4);
  put_int(out, v);
}

struct Attribute {
  std::string type, value;
};

std::string box(int x0, int y0, int x1, int y1) {
  std::string b;
  for (int v : {x0, y0, x1, y1}) put_int(b, v);
  return b;
}

// The header's attributes, in name order as OpenEXR writes them.
std::map<std::string, Attribute> attributes_of(
    const ExrPicture& picture, const std::vector<std::size_t>& order) {
  std::map<std::string, Attribute> a;
  std::string channels;
  for (std::size_t c : order) {
    channels += picture.channels[c].name;
    channels.push_back('\0');
    put_int(channels, 2);  // float
    put_int(channels, 0);  // linear flag and reserved bytes
    put_int(channels, 1);  // x sampling
    put_int(channels, 1);  // y sampling
  }
  channels.push_back('\0');
  a["channels"] = {"chlist", channels};
  // The sRGB primaries and D65 white, OpenEXR's default chromaticities.
  std::string chromaticities;
  for (float v : {0.64f, 0.33f, 0.3f, 0.6f, 0.15f, 0.06f, 0.3127f, 0.329f})
    put_float(chromaticities, v);
  a["chromaticities"] = {"chromaticities", chromaticities};
  a["compression"] = {"compression", std::string(1, '\x03')};
  const ExrWindows& w = picture.windows;
  const std::string data =
      box(w.x, w.y, w.x + picture.width - 1, w.y + picture.height - 1);
  a["dataWindow"] = {"box2i", data};
  a["displayWindow"] = {
      "box2i", w.display_given
                   ? box(w.display_x0, w.display_y0, w.display_x1, w.display_y1)
                   : data};
  a["lineOrder"] = {"lineOrder", std::string(1, '\0')};
  std::string one, zeros;
  put_float(one, 1.0f);
  put_float(zeros, 0.0f);
  put_float(zeros, 0.0f);
  a["pixelAspectRatio"] = {"float", one};
  a["screenWindowCenter"] = {"v2f", zeros};
  a["screenWindowWidth"] = {"float", one};
  for (const auto& [name, value] : picture.attributes)
    a[name] = {"string", value};
  return a;
}

std::string header_of(const ExrPicture& picture,
                      const std::vector<std::size_t>& order) {
  const auto attributes = attributes_of(picture, order);
  bool long_names = false;
  for (const auto& [name, a] : attributes)
    long_names = long_names || name.size() > kLongestShortName ||
                 a.type.size() > kLongestShortName;
  for (const ExrPicture::Channel& c : picture.channels)
    long_names = long_names || c.name.size() > kLongestShortName;
  std::string out("\x76\x2f\x31\x01", 4);
  put_int(out, long_names ? 0x402 : 2);
  for (const auto& [name, a] : attributes) {
    out += name;
    out.push_back('\0');
    out += a.type;
    out.push_back('\0');
    put_int(out, static_cast<std::int32_t>(a.value.size()));
    out += a.value;
  }
  out.push_back('\0');
  return out;
}

// One chunk's lines as OpenEXR stores them: predicted, split and deflated,
// or raw where deflating saves nothing.
std::string compressed(const std::string& raw) {
  std::string split(raw.size(), '\0');
  const std::size_t half = (raw.size() + 1) / 2;
  for (std::size_t i = 0; i < raw.size(); ++i)
    split[i % 2 ? half + i / 2 : i / 2] = raw[i];
  auto* t = reinterpret_cast<unsigned char*>(split.data());
  for (std::size_t i = split.size(); i-- > 1;)
    t[i] = static_cast<unsigned char>(t[i] - t[i - 1] + 128);
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(split.data()),
                static_cast<uLong>(split.size()), kZipLevel) != Z_OK)
    throw std::bad_alloc();  // zlib fails only for want of memory
  if (size >= raw.size()) return raw;
  out.resize(size);
  return out;
}

// Writes the rows of one band of chunks into `raw`, one string a chunk,
// asking the picture for each band of rows its banded channels hold.
class Rows {
 public:
  Rows(const ExrPicture& picture, const std::vector<std::size_t>& order)
      : picture_(picture), order_(order) {}
  void append_row(int y, std::string& raw) {
    if (picture_.band_rows > 0 &&
        (band_first_ < 0 || y >= band_first_ + picture_.band_rows)) {
      band_first_ = y;
      picture_.fill_band(y, std::min(picture_.band_rows, picture_.height - y));
    }
    for (std::size_t c : order_) {
      const ExrPicture::Channel& channel = picture_.channels[c];
      const int row = channel.banded ? y - band_first_ : y;
      const float* first = channel.first + static_cast<std::size_t>(row) *
                                               picture_.width * channel.stride;
      const std::size_t at = raw.size();
      raw.resize(at + 4 * static_cast<std::size_t>(picture_.width));
      for (int x = 0; x < picture_.width; ++x)
        std::memcpy(&raw[at + 4 * static_cast<std::size_t>(x)],
                    first + static_cast<std::size_t>(x) * channel.stride, 4);
    }
  }

 private:
  const ExrPicture& picture_;
  const std::vector<std::size_t>& order_;
  int band_first_ = -1;
};

}  // namespace

void set_threads(int threads) { writing_threads = std::max(1, threads); }

std::string encode(const ExrPicture& picture) {
  std::vector<std::size_t> order(picture.channels.size());
  for (std::size_t c = 0; c < order.size(); ++c) order[c] = c;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return picture.channels[a].name < picture.channels[b].name;
  });
  std::string out = header_of(picture, order);
  const int chunks = (picture.height + kLinesPerChunk - 1) / kLinesPerChunk;
  const std::size_t table = out.size();
  out.append(8 * static_cast<std::size_t>(chunks), '\0');
  Rows rows(picture, order);
  std::vector<std::string> batch;
  for (int first = 0; first < chunks; first += kChunksAtOnce) {
    const int count = std::min(kChunksAtOnce, chunks - first);
    batch.assign(static_cast<std::size_t>(count), std::string());
    for (int c = 0; c < count; ++c) {
      const int y0 = (first + c) * kLinesPerChunk;
      for (int y = y0; y < std::min(y0 + kLinesPerChunk, picture.height); ++y)
        rows.append_row(y, batch[static_cast<std::size_t>(c)]);
    }
    for_each_row(writing_threads, count, [&](int c) {
      std::string& chunk = batch[static_cast<std::size_t>(c)];
      chunk = compressed(chunk);
    });
    for (int c = 0; c < count; ++c) {
      const std::uint64_t offset = out.size();
      for (int i = 0; i < 8; ++i)
        out[table + 8 * static_cast<std::size_t>(first + c) + i] =
            static_cast<char>(offset >> 8 * i);
      const std::string& chunk = batch[static_cast<std::size_t>(c)];
      put_int(out, picture.windows.y + (first + c) * kLinesPerChunk);
      put_int(out, static_cast<std::int32_t>(chunk.size()));
      out += chunk;
    }
  }
  return out;
}

}  // namespace common::exr_zip_writer
