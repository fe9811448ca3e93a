// EXR pixels through OpenEXR: the Linux build's decoder and encoder.
#include <OpenEXR/Iex.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputPart.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfThreading.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "tools/common/errors.h"
#include "tools/common/exr_codec.h"
#include "tools/common/quoting.h"

namespace common::exr_openexr {

namespace {

// OpenEXR writes through a stream; this one keeps the bytes, so that the EXR
// is committed with the other outputs.
class MemoryOutput : public Imf::OStream {
 public:
  MemoryOutput() : Imf::OStream("EXR image") {}
  void write(const char c[], int n) override {
    const std::size_t count = static_cast<std::size_t>(n);
    // Mostly at the end: appended, never zeroed first; the table of line
    // offsets is written again over its place at the start.
    const std::size_t over = std::min(count, bytes_.size() - position_);
    bytes_.replace(position_, over, c, over);
    bytes_.append(c + over, count - over);
    position_ += count;
  }
  std::uint64_t tellp() override { return position_; }
  void seekp(std::uint64_t position) override { position_ = position; }
  std::string take() { return std::move(bytes_); }

 private:
  std::string bytes_;
  std::size_t position_ = 0;
};

// And reads from bytes already in memory, which were checked whole.
class MemoryInput : public Imf::IStream {
 public:
  explicit MemoryInput(std::string_view bytes)
      : Imf::IStream("EXR image"), bytes_(bytes) {}
  bool read(char c[], int n) override {
    const std::size_t count = static_cast<std::size_t>(n);
    if (position_ > bytes_.size() || bytes_.size() - position_ < count)
      throw IEX_NAMESPACE::InputExc("the file ends early");
    std::memcpy(c, bytes_.data() + position_, count);
    position_ += count;
    return position_ < bytes_.size();
  }
  std::uint64_t tellg() override { return position_; }
  void seekg(std::uint64_t position) override { position_ = position; }

 private:
  std::string_view bytes_;
  std::uint64_t position_ = 0;
};

// The frame buffer of a picture whose banded channels hold the band from
// `first_row`: OpenEXR finds pixel (x, y), counted from the data window's
// origin, at base + x * pixel stride + y * row stride.
Imf::FrameBuffer frame_of(const ExrPicture& picture, int first_row) {
  Imf::FrameBuffer frame;
  for (const ExrPicture::Channel& channel : picture.channels) {
    const std::size_t x_stride = channel.stride * sizeof(float);
    const std::size_t y_stride = x_stride * picture.width;
    const std::ptrdiff_t top =
        picture.windows.y + (channel.banded ? first_row : 0);
    char* base = reinterpret_cast<char*>(const_cast<float*>(channel.first)) -
                 top * static_cast<std::ptrdiff_t>(y_stride) -
                 picture.windows.x * static_cast<std::ptrdiff_t>(x_stride);
    frame.insert(channel.name,
                 Imf::Slice(Imf::FLOAT, base, x_stride, y_stride));
  }
  return frame;
}

}  // namespace

std::string encode(const ExrPicture& picture) {
  try {
    const ExrWindows& w = picture.windows;
    const Imath::Box2i data(
        Imath::V2i(w.x, w.y),
        Imath::V2i(w.x + picture.width - 1, w.y + picture.height - 1));
    const Imath::Box2i display =
        w.display_given ? Imath::Box2i(Imath::V2i(w.display_x0, w.display_y0),
                                       Imath::V2i(w.display_x1, w.display_y1))
                        : data;
    Imf::Header header(display, data);
    for (const auto& [name, value] : picture.attributes)
      header.insert(name, Imf::StringAttribute(value));
    // Linear values with the sRGB primaries and D65 white (the library's
    // default chromaticities).
    Imf::addChromaticities(header, Imf::Chromaticities());
    for (const ExrPicture::Channel& channel : picture.channels)
      header.channels().insert(channel.name, Imf::Channel(Imf::FLOAT));
    MemoryOutput stream;
    {
      Imf::OutputFile file(stream, header);
      const int band =
          picture.band_rows > 0 ? picture.band_rows : picture.height;
      for (int first_row = 0; first_row < picture.height; first_row += band) {
        const int rows = std::min(band, picture.height - first_row);
        if (picture.band_rows > 0) picture.fill_band(first_row, rows);
        file.setFrameBuffer(frame_of(picture, first_row));
        file.writePixels(rows);
      }
    }
    return stream.take();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const Failure&) {
    throw;
  } catch (const std::exception& e) {
    throw Failure(std::string("cannot make the EXR image: ") +
                  printable_line(e.what()));
  }
}

void decode(std::string_view bytes, int part, const ExrStructure&,
            const std::vector<ExrPlane>& planes) {
  try {
    MemoryInput stream(bytes);
    Imf::MultiPartInputFile file(stream);
    Imf::InputPart input(file, part);
    const Imath::Box2i window = input.header().dataWindow();
    const std::ptrdiff_t width = window.max.x - window.min.x + 1;
    Imf::FrameBuffer frame;
    for (const ExrPlane& plane : planes) {
      const std::size_t x_stride = plane.stride * sizeof(float);
      char* base = reinterpret_cast<char*>(plane.first) -
                   (window.min.x + window.min.y * width) *
                       static_cast<std::ptrdiff_t>(x_stride);
      // A plane of no channel reads its fill from a name no file holds.
      frame.insert(plane.channel.empty() ? "\x01 none" : plane.channel,
                   Imf::Slice(Imf::FLOAT, base, x_stride, x_stride * width, 1,
                              1, plane.fill));
    }
    input.setFrameBuffer(frame);
    input.readPixels(window.min.y, window.max.y);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    throw ExrFault{"its pixel data cannot be decoded", ""};
  }
}

void set_threads(int threads) {
  // A pool the system cannot start leaves OpenEXR working on this thread.
  try {
    Imf::setGlobalThreadCount(threads > 1 ? threads : 0);
  } catch (const std::exception&) {
    Imf::setGlobalThreadCount(0);
  }
}

}  // namespace common::exr_openexr
