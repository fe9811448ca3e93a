// The float image that compositors key ID passes in, written with OpenEXR.
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfStringAttribute.h>

#include <algorithm>
#include <exception>

#include "tools/refhost/outputs.h"
#include "tools/refhost/text.h"

namespace refhost {

namespace {

// OpenEXR writes through a stream; this one keeps the bytes, so that the EXR
// is committed with the other outputs.
class MemoryStream : public Imf::OStream {
 public:
  MemoryStream() : Imf::OStream("EXR image") {}
  void write(const char c[], int n) override {
    const std::size_t end = position_ + static_cast<std::size_t>(n);
    if (bytes_.size() < end) bytes_.resize(end);
    std::copy(c, c + n,
              bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ = end;
  }
  std::uint64_t tellp() override { return position_; }
  void seekp(std::uint64_t position) override { position_ = position; }
  std::string bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::size_t position_ = 0;
};

}  // namespace

void require_exr_support() {}

std::string exr_bytes(const Image& image, const std::string& manifest) {
  try {
    Imf::Header header(image.width, image.height);
    header.insert("ravelTint/manifest", Imf::StringAttribute(manifest));
    // Linear values with the sRGB primaries and D65 white (the library's
    // default chromaticities).
    Imf::addChromaticities(header, Imf::Chromaticities());
    Imf::FrameBuffer frame;
    const char* channels = "RGBA";
    char* base =
        reinterpret_cast<char*>(const_cast<float*>(image.premultiplied.data()));
    const std::size_t x_stride = 4 * sizeof(float);
    for (int c = 0; c < 4; ++c) {
      const std::string name(1, channels[c]);
      header.channels().insert(name, Imf::Channel(Imf::FLOAT));
      frame.insert(name, Imf::Slice(Imf::FLOAT, base + c * sizeof(float),
                                    x_stride, x_stride * image.width));
    }
    MemoryStream stream;
    {
      Imf::OutputFile file(stream, header);
      file.setFrameBuffer(frame);
      file.writePixels(image.height);
    }
    return stream.bytes();
  } catch (const std::exception& e) {
    throw Failure(std::string("cannot make the EXR image: ") + e.what());
  }
}

}  // namespace refhost
