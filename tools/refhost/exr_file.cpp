#include "tools/refhost/exr_file.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfInputPart.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfThreading.h>

#include <algorithm>
#include <exception>
#include <new>

#include "tools/refhost/exr_layers.h"
#include "tools/refhost/text.h"

namespace refhost {

namespace {

// OpenEXR writes through a stream; this one keeps the bytes, so that the EXR
// is committed with the other outputs.
class MemoryStream : public Imf::OStream {
 public:
  MemoryStream() : Imf::OStream("EXR image") {}
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

std::map<std::string, std::string> string_attributes(
    const Imf::Header& header) {
  std::map<std::string, std::string> attributes;
  for (auto a = header.begin(); a != header.end(); ++a)
    if (const auto* text =
            dynamic_cast<const Imf::StringAttribute*>(&a.attribute()))
      attributes[a.name()] = text->value();
  return attributes;
}

// The address that a slice names for the data window's corner (wherever it
// lies) to land on `first`, with `stride` bytes from one pixel to the next.
char* slice_origin(void* first, const Imath::Box2i& window, int width,
                   std::size_t stride) {
  return static_cast<char*>(first) -
         (static_cast<std::ptrdiff_t>(window.min.x) +
          static_cast<std::ptrdiff_t>(window.min.y) * width) *
             static_cast<std::ptrdiff_t>(stride);
}

// Runs `read` on the file opened as a `File` (an InputFile, a
// MultiPartInputFile); OpenEXR's own errors name the file.
template <typename File = Imf::InputFile, typename Read>
auto reading(const std::string& path, Read read) {
  try {
    File file(path.c_str());
    return read(file);
  } catch (const Failure&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw Failure(quote(path) + ": not a readable EXR image (" +
                  printable_line(e.what()) + ")");
  }
}

ExrWindows windows_of(const Imf::Header& header) {
  const Imath::Box2i data = header.dataWindow();
  const Imath::Box2i display = header.displayWindow();
  return {data.min.x,    data.min.y,    true,         display.min.x,
          display.min.y, display.max.x, display.max.y};
}

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

void require_exr_support(const char*) {}

std::string exr_bytes(const ExrPicture& picture) {
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
    MemoryStream stream;
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
  } catch (const std::exception& e) {
    throw Failure(std::string("cannot make the EXR image: ") +
                  printable_line(e.what()));
  }
}

ExrImage read_exr(const std::string& path) {
  return reading(path, [](Imf::InputFile& file) {
    const Imf::Header& header = file.header();
    const Imath::Box2i window = header.dataWindow();
    ExrImage image;
    image.width = window.max.x - window.min.x + 1;
    image.height = window.max.y - window.min.y + 1;
    image.windows = windows_of(header);
    const std::size_t pixels =
        static_cast<std::size_t>(image.width) * image.height;
    Imf::FrameBuffer frame;
    for (auto c = header.channels().begin(); c != header.channels().end();
         ++c) {
      image.half = image.half || c.channel().type == Imf::HALF;
      std::vector<float>& values = image.channels[c.name()];
      values.assign(pixels, 0.0f);
      frame.insert(c.name(),
                   Imf::Slice(Imf::FLOAT,
                              slice_origin(values.data(), window, image.width,
                                           sizeof(float)),
                              sizeof(float), sizeof(float) * image.width));
    }
    file.setFrameBuffer(frame);
    file.readPixels(window.min.y, window.max.y);
    image.attributes = string_attributes(header);
    return image;
  });
}

void set_exr_threads(int threads) {
  // A pool the system cannot start leaves OpenEXR working on this thread.
  try {
    Imf::setGlobalThreadCount(threads > 1 ? threads : 0);
  } catch (const std::exception&) {
    Imf::setGlobalThreadCount(0);
  }
}

ExrRgba read_exr_rgba(const std::string& path, const std::string& layer) {
  return reading<Imf::MultiPartInputFile>(path, [&](auto& file) {
    std::vector<ExrPartChannels> parts(static_cast<std::size_t>(file.parts()));
    for (int i = 0; i < file.parts(); ++i) {
      const Imf::Header& header = file.header(i);
      ExrPartChannels& part = parts[static_cast<std::size_t>(i)];
      if (header.hasName()) part.name = header.name();
      for (auto c = header.channels().begin(); c != header.channels().end();
           ++c)
        part.channels.push_back(c.name());
      part.attributes = string_attributes(header);
    }
    const ExrLayer chosen = pick_layer(parts, layer, path);
    Imf::InputPart part(file, chosen.part);
    const Imf::Header& header = part.header();
    const Imath::Box2i window = header.dataWindow();
    ExrRgba image;
    image.layer = chosen.name;
    image.width = window.max.x - window.min.x + 1;
    image.height = window.max.y - window.min.y + 1;
    image.windows = windows_of(header);
    for (int c = 0; c < 3; ++c)
      image.half =
          image.half ||
          header.channels().findChannel(chosen.channels[c])->type == Imf::HALF;
    image.rgba.resize(static_cast<std::size_t>(image.width) * image.height * 4);
    char* origin =
        slice_origin(image.rgba.data(), window, image.width, 4 * sizeof(float));
    Imf::FrameBuffer frame;
    for (int c = 0; c < 4; ++c)
      frame.insert(
          // A missing A reads as the fill value 1, from a channel that no
          // file holds.
          chosen.channels[c].empty() ? std::string("\x01 no alpha")
                                     : chosen.channels[c],
          Imf::Slice(Imf::FLOAT, origin + c * sizeof(float), 4 * sizeof(float),
                     4 * sizeof(float) * image.width, 1, 1,
                     c == 3 ? 1.0 : 0.0));
    part.setFrameBuffer(frame);
    part.readPixels(window.min.y, window.max.y);
    image.attributes = parts[static_cast<std::size_t>(chosen.part)].attributes;
    return image;
  });
}

}  // namespace refhost
