#include "tools/common/exr_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "tools/common/errors.h"
#include "tools/common/exr_codec.h"
#include "tools/common/exr_layers.h"
#include "tools/common/exr_structure.h"
#include "tools/common/quoting.h"

namespace common {

namespace {

#if defined(RAVELTINT_EXR_TINYEXR)
namespace decoder = exr_tinyexr;
namespace encoder = exr_zip_writer;
#else
namespace decoder = exr_openexr;
namespace encoder = exr_openexr;
#endif

// A file read whole, with its structure checked; its bytes are followed by
// the slack of zeros that decoders may read into.
struct ExrFile {
  std::string memory;
  std::string_view bytes;
  ExrStructure structure;
};

void read_bytes(const std::string& path, ExrFile& file) {
  std::ifstream in(std::filesystem::u8path(path),
                   std::ios::binary | std::ios::ate);
  if (!in) throw Failure(quote(path) + ": no such file, or not readable");
  const std::streamoff size = in.tellg();
  in.seekg(0);
  if (size < 0)
    throw Failure(quote(path) + ": cannot read: " + std::strerror(errno));
  file.memory.assign(static_cast<std::size_t>(size) + kExrReadSlack, '\0');
  if (!in.read(file.memory.data(), size))
    throw Failure(quote(path) + ": cannot read: " + std::strerror(errno));
  file.bytes =
      std::string_view(file.memory.data(), static_cast<std::size_t>(size));
}

std::string refusal(const std::string& path, const ExrFault& fault) {
  if (!fault.lossy_compression.empty())
    return quote(path) + ": compressed with " + fault.lossy_compression +
           ", which is lossy and changes the colours that name objects; "
           "write it with ZIP, ZIPS, PIZ, RLE or no compression";
  return quote(path) + ": not a readable EXR image (" + fault.reason + ")";
}

void open_exr(const std::string& path, ExrFile& file) {
  read_bytes(path, file);
  try {
    file.structure = exr_structure(file.bytes);
  } catch (const ExrFault& fault) {
    throw Failure(refusal(path, fault));
  }
}

void decode(const std::string& path, const ExrFile& file, int part,
            const std::vector<ExrPlane>& planes) {
  try {
    decoder::decode(file.bytes, part, file.structure, planes);
  } catch (const ExrFault& fault) {
    throw Failure(refusal(path, fault));
  }
}

}  // namespace

std::string exr_bytes(const ExrPicture& picture) {
  return encoder::encode(picture);
}

void set_exr_threads(int threads) {
#if defined(RAVELTINT_EXR_TINYEXR)
  exr_zip_writer::set_threads(threads);
#else
  exr_openexr::set_threads(threads);
#endif
}

ExrImage read_exr(const std::string& path) {
  ExrFile file;
  open_exr(path, file);
  const ExrPart& part = file.structure.parts[0];
  ExrImage image;
  image.width = part.width;
  image.height = part.height;
  image.windows = part.windows;
  image.attributes = part.strings;
  const std::size_t pixels =
      static_cast<std::size_t>(image.width) * image.height;
  std::vector<ExrPlane> planes;
  for (const ExrChannel& channel : part.channels) {
    image.half = image.half || channel.type == ExrPixelType::kHalf;
    std::vector<float>& values = image.channels[channel.name];
    values.assign(pixels, 0.0f);
    planes.push_back({channel.name, values.data(), 1});
  }
  decode(path, file, 0, planes);
  return image;
}

ExrRgba read_exr_rgba(const std::string& path, const std::string& layer) {
  ExrFile file;
  open_exr(path, file);
  std::vector<ExrPartChannels> parts;
  for (const ExrPart& part : file.structure.parts) {
    parts.push_back({part.name, {}, part.strings});
    for (const ExrChannel& channel : part.channels)
      parts.back().channels.push_back(channel.name);
  }
  const ExrLayer chosen = pick_layer(parts, layer, path);
  const ExrPart& part =
      file.structure.parts[static_cast<std::size_t>(chosen.part)];
  ExrRgba image;
  image.layer = chosen.name;
  image.width = part.width;
  image.height = part.height;
  image.windows = part.windows;
  image.attributes = part.strings;
  for (const ExrChannel& channel : part.channels)
    for (int c = 0; c < 3; ++c)
      image.half = image.half || (channel.name == chosen.channels[c] &&
                                  channel.type == ExrPixelType::kHalf);
  image.rgba.resize(static_cast<std::size_t>(image.width) * image.height * 4);
  std::vector<ExrPlane> planes;
  for (int c = 0; c < 4; ++c)  // A is 1 where the layer has none
    planes.push_back(
        {chosen.channels[c], image.rgba.data() + c, 4, c == 3 ? 1.0f : 0.0f});
  decode(path, file, chosen.part, planes);
  return image;
}

}  // namespace common
