#include "tools/common/exr_structure.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "tools/common/quoting.h"

namespace common {

namespace {

constexpr const char* kCompressions[] = {"none", "RLE",   "ZIPS", "ZIP",
                                         "PIZ",  "PXR24", "B44",  "B44A",
                                         "DWAA", "DWAB"};
constexpr int kKnownCompressions = 10;

// Version flags: a single part of tiles, names up to 255 bytes, deep data,
// several parts.
constexpr std::uint32_t kTiled = 0x200, kLongNames = 0x400, kDeep = 0x800,
                        kMultipart = 0x1000;

[[noreturn]] void fault(const std::string& reason) {
  throw ExrFault{reason, ""};
}

// Little-endian values read from a byte string, every read checked against
// its end.
class Bytes {
 public:
  Bytes(std::string_view bytes, std::size_t at) : bytes_(bytes), at_(at) {}
  std::size_t at() const { return at_; }
  std::size_t left() const { return bytes_.size() - at_; }
  void need(std::size_t n, const char* where) const {
    if (left() < n)
      fault(std::string("truncated: it ends inside its ") + where);
  }
  std::uint64_t unsigned_of(int size, const char* where) {
    need(static_cast<std::size_t>(size), where);
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i)
      v = v << 8 | static_cast<unsigned char>(bytes_[at_ + i]);
    at_ += static_cast<std::size_t>(size);
    return v;
  }
  std::int32_t int32(const char* where) {
    return static_cast<std::int32_t>(unsigned_of(4, where));
  }
  std::uint8_t byte(const char* where) {
    return static_cast<std::uint8_t>(unsigned_of(1, where));
  }
  // A name ended by a zero byte, of at most `longest` bytes.
  std::string name(std::size_t longest, const char* where) {
    const std::size_t end = bytes_.find('\0', at_);
    if (end == std::string_view::npos) need(left() + 1, where);
    if (end - at_ > longest)
      fault(std::string("its ") + where + " holds a name longer than " +
            std::to_string(longest) + " bytes");
    std::string text(bytes_.substr(at_, end - at_));
    at_ = end + 1;
    return text;
  }
  std::string take(std::size_t n, const char* where) {
    need(n, where);
    std::string text(bytes_.substr(at_, n));
    at_ += n;
    return text;
  }

 private:
  std::string_view bytes_;
  std::size_t at_;
};

struct Attribute {
  std::string type, value;
};
using Attributes = std::map<std::string, Attribute>;

// The size of a value of each type of fixed size.
constexpr struct {
  const char* type;
  std::size_t size;
} kFixedSizes[] = {
    {"box2i", 16},      {"box2f", 16},   {"chromaticities", 32},
    {"compression", 1}, {"double", 8},   {"envmap", 1},
    {"float", 4},       {"int", 4},      {"keycode", 28},
    {"lineOrder", 1},   {"m33f", 36},    {"m33d", 72},
    {"m44f", 64},       {"m44d", 128},   {"rational", 8},
    {"tiledesc", 9},    {"timecode", 8}, {"v2i", 8},
    {"v2f", 8},         {"v2d", 16},     {"v3i", 12},
    {"v3f", 12},        {"v3d", 24},     {"deepImageState", 1},
};

// Whether the entries of a value of a list type (a channel list, a list of
// strings, a preview image) fill exactly the size its attribute gives.
bool list_fills(const std::string& type, const std::string& value,
                std::size_t longest) {
  Bytes in(value, 0);
  if (type == "chlist") {
    while (!in.name(longest, "channel list").empty())
      in.take(16, "channel list");
    return in.left() == 0;
  }
  if (type == "stringvector") {
    while (in.left() > 0) {
      const std::int32_t size = in.int32("list of strings");
      if (size < 0) return false;
      in.take(static_cast<std::size_t>(size), "list of strings");
    }
  } else if (type == "preview") {
    const std::uint64_t width = static_cast<std::uint32_t>(in.int32("preview"));
    const std::uint64_t height =
        static_cast<std::uint32_t>(in.int32("preview"));
    return in.left() == 4 * width * height;
  } else if (type == "floatvector") {
    return value.size() % 4 == 0;
  }
  return true;  // a string, or a type no reader knows and each skips whole
}

// Every reader walks a header by the sizes it gives, but some read a value
// of a known type by its type alone; a size that disagrees with the value
// would let the two walks part, and a decoder read what this check never
// saw. So a value of fixed size must have that size, and a list must end
// where its size says.
void check_size(const std::string& name, const Attribute& a,
                std::size_t longest) {
  for (const auto& fixed : kFixedSizes)
    if (a.type == fixed.type && a.value.size() != fixed.size)
      fault("its attribute " + quote_short(name) + " of type " + a.type +
            " holds " + std::to_string(a.value.size()) + " bytes, not " +
            std::to_string(fixed.size));
  try {
    if (list_fills(a.type, a.value, longest)) return;
  } catch (const ExrFault&) {
  }
  fault("its attribute " + quote_short(name) + " of type " + a.type +
        " does not fill the " + std::to_string(a.value.size()) +
        " bytes it claims");
}

// One header: attributes up to the empty name that ends it.
Attributes read_header(Bytes& in, std::size_t longest) {
  Attributes attributes;
  for (;;) {
    const std::string name = in.name(longest, "header");
    if (name.empty()) return attributes;
    Attribute a;
    a.type = in.name(longest, "header");
    const std::int32_t size = in.int32("header");
    if (size < 0) fault("its header holds an attribute of negative size");
    a.value = in.take(static_cast<std::size_t>(size), "header");
    check_size(name, a, longest);
    attributes[name] = std::move(a);
  }
}

const Attribute& required(const Attributes& attributes, const char* name,
                          const char* type) {
  const auto it = attributes.find(name);
  if (it == attributes.end())
    fault(std::string("its header has no \"") + name + "\" attribute");
  if (it->second.type != type)
    fault(std::string("its \"") + name + "\" attribute is not of type " + type);
  return it->second;
}

std::vector<ExrChannel> channels_of(const Attribute& list,
                                    std::size_t longest) {
  Bytes in(list.value, 0);
  std::vector<ExrChannel> channels;
  for (;;) {
    const std::string name = in.name(longest, "channel list");
    if (name.empty()) break;
    const std::int32_t type = in.int32("channel list");
    in.take(4, "channel list");  // linear flag and reserved bytes
    const std::int32_t x_sampling = in.int32("channel list");
    const std::int32_t y_sampling = in.int32("channel list");
    if (type < 0 || type > 2)
      fault("its channel " + quote_short(name) + " has an unknown pixel type");
    // No renderer subsamples an ID image or its Cryptomatte.
    if (x_sampling != 1 || y_sampling != 1)
      fault("its channel " + quote_short(name) + " is subsampled");
    channels.push_back({name, static_cast<ExrPixelType>(type)});
  }
  if (channels.empty()) fault("it has no channels");
  return channels;
}

// The data and display windows, corners inclusive.
void read_windows(const Attributes& attributes, ExrPart& part) {
  Bytes data(required(attributes, "dataWindow", "box2i").value, 0);
  Bytes display(required(attributes, "displayWindow", "box2i").value, 0);
  std::int64_t box[2][4];
  for (int i = 0; i < 4; ++i) {
    box[0][i] = data.int32("data window");
    box[1][i] = display.int32("display window");
  }
  const std::int64_t width = box[0][2] - box[0][0] + 1;
  const std::int64_t height = box[0][3] - box[0][1] + 1;
  if (width < 1 || height < 1 || box[1][2] < box[1][0] || box[1][3] < box[1][1])
    fault("its data or display window is empty");
  // Four floats a pixel must stay within what memory can address.
  if (width * height > (std::int64_t{1} << 31))
    fault("its data window of " + std::to_string(width) + "x" +
          std::to_string(height) + " pixels is larger than this tool reads");
  part.width = static_cast<int>(width);
  part.height = static_cast<int>(height);
  part.windows = {static_cast<int>(box[0][0]),
                  static_cast<int>(box[0][1]),
                  true,
                  static_cast<int>(box[1][0]),
                  static_cast<int>(box[1][1]),
                  static_cast<int>(box[1][2]),
                  static_cast<int>(box[1][3])};
}

// Scanlines in one chunk, for each compression this tool reads.
int lines_per_chunk(int compression) {
  return compression == 3 ? 16 : compression == 4 ? 32 : 1;
}

ExrPart part_of(const Attributes& attributes, bool tiled, bool multipart,
                std::size_t longest) {
  ExrPart part;
  part.channels =
      channels_of(required(attributes, "channels", "chlist"), longest);
  const std::string& code =
      required(attributes, "compression", "compression").value;
  if (code.size() != 1) fault("its compression attribute is damaged");
  part.compression = static_cast<unsigned char>(code[0]);
  if (part.compression >= kKnownCompressions)
    fault("an unknown compression, number " + std::to_string(part.compression));
  if (!exr_lossless(part.compression))
    throw ExrFault{"", kCompressions[part.compression]};
  read_windows(attributes, part);
  for (const char* name : {"lineOrder", "pixelAspectRatio",
                           "screenWindowCenter", "screenWindowWidth"})
    if (!attributes.count(name))
      fault(std::string("its header has no \"") + name + "\" attribute");
  if (multipart) {
    const std::string& type = required(attributes, "type", "string").value;
    if (type != "scanlineimage" && type != "tiledimage")
      fault("a part of type " + quote_short(type) +
            ", which holds no flat image");
    tiled = type == "tiledimage";
    required(attributes, "name", "string");
    Bytes count(required(attributes, "chunkCount", "int").value, 0);
    part.chunk_count = count.int32("chunk count");
  }
  part.tiled = tiled;
  if (tiled) {
    Bytes tiles(required(attributes, "tiles", "tiledesc").value, 0);
    const std::int64_t width = tiles.unsigned_of(4, "tile description");
    const std::int64_t height = tiles.unsigned_of(4, "tile description");
    const std::uint8_t mode = tiles.byte("tile description");
    if ((mode & 0x0f) != 0)
      fault("its tiles hold several resolutions, not one image");
    if (width < 1 || height < 1 || width > 65536 || height > 65536 ||
        width * height > (std::int64_t{1} << 24))
      fault("its tile size is damaged");
    part.tile_width = static_cast<int>(width);
    part.tile_height = static_cast<int>(height);
  }
  for (const auto& [name, attribute] : attributes)
    if (attribute.type == "string") part.strings[name] = attribute.value;
  const auto name = part.strings.find("name");
  if (name != part.strings.end()) part.name = name->second;
  return part;
}

std::uint64_t chunks_of(const ExrPart& part) {
  if (!part.tiled)
    return (static_cast<std::uint64_t>(part.height) +
            lines_per_chunk(part.compression) - 1) /
           lines_per_chunk(part.compression);
  const std::uint64_t across =
      (static_cast<std::uint64_t>(part.width) + part.tile_width - 1) /
      part.tile_width;
  const std::uint64_t down =
      (static_cast<std::uint64_t>(part.height) + part.tile_height - 1) /
      part.tile_height;
  return across * down;
}

// The pixels of one chunk, from the place it gives, which decoders trust:
// a row of the data window where a chunk begins, or a tile of the one
// level. Nothing where that place lies outside the part.
struct Block {
  std::int64_t columns = 0, rows = 0;
};
std::optional<Block> block_at(Bytes& at, const ExrPart& part) {
  if (!part.tiled) {
    const std::int64_t lines = lines_per_chunk(part.compression);
    const std::int64_t row =
        at.int32("pixel data") - std::int64_t{part.windows.y};
    if (row < 0 || row >= part.height || row % lines != 0) return std::nullopt;
    return Block{part.width, std::min(lines, part.height - row)};
  }
  std::int64_t tile[4];
  for (std::int64_t& t : tile) t = at.int32("pixel data");
  const std::int64_t x = tile[0] * part.tile_width,
                     y = tile[1] * part.tile_height;
  if (tile[0] < 0 || tile[1] < 0 || tile[2] != 0 || tile[3] != 0 ||
      x >= part.width || y >= part.height)
    return std::nullopt;
  return Block{std::min<std::int64_t>(part.tile_width, part.width - x),
               std::min<std::int64_t>(part.tile_height, part.height - y)};
}

// A PIZ chunk's framing, which tinyexr's decoder reads unchecked: the
// bitmap of values used, then the Huffman data's length and its 20-byte
// head, each within the chunk. A chunk of the block's raw size is stored
// raw.
bool piz_framing_fits(std::string_view chunk, const ExrPart& part,
                      const Block& block) {
  std::int64_t pixel = 0;
  for (const ExrChannel& c : part.channels)
    pixel += c.type == ExrPixelType::kHalf ? 2 : 4;
  if (static_cast<std::int64_t>(chunk.size()) ==
      block.columns * block.rows * pixel)
    return true;
  Bytes in(chunk, 0);
  if (in.left() < 4) return false;
  const std::uint64_t low = in.unsigned_of(2, "pixel data");
  const std::uint64_t high = in.unsigned_of(2, "pixel data");
  if (high >= 8192) return false;
  if (low <= high) {
    if (in.left() < high - low + 1) return false;
    in.take(high - low + 1, "pixel data");
  }
  if (in.left() < 4) return false;
  const std::int32_t length = in.int32("pixel data");
  return length >= 20 && static_cast<std::uint64_t>(length) <= in.left();
}

// Every chunk that the tables name lies after them and within the file,
// with its own size: a truncated file is found here, before any pixel.
void check_chunks(std::string_view bytes, Bytes& in,
                  const ExrStructure& structure) {
  std::vector<std::uint64_t> counts;
  std::uint64_t total = 0;
  for (const ExrPart& part : structure.parts) {
    counts.push_back(chunks_of(part));
    if (structure.multipart &&
        static_cast<std::uint64_t>(part.chunk_count) != counts.back())
      fault("its chunk count does not fit its data window");
    total += counts.back();
  }
  if (total > in.left() / 8)
    fault("truncated: it ends inside its table of chunks");
  std::vector<std::uint64_t> offsets;
  for (std::uint64_t i = 0; i < total; ++i)
    offsets.push_back(in.unsigned_of(8, "table of chunks"));
  const std::size_t first = in.at();
  std::size_t chunk = 0;
  for (std::size_t p = 0; p < structure.parts.size(); ++p)
    for (std::uint64_t c = 0; c < counts[p]; ++c, ++chunk) {
      const std::uint64_t offset = offsets[chunk];
      if (offset < first)
        fault("its table of chunks is damaged (chunk " + std::to_string(chunk) +
              ")");
      if (offset >= bytes.size())
        fault("truncated: it ends before chunk " + std::to_string(chunk));
      Bytes at(bytes, static_cast<std::size_t>(offset));
      if (structure.multipart &&
          at.int32("pixel data") != static_cast<std::int32_t>(p))
        fault("its chunk " + std::to_string(chunk) + " names another part");
      const ExrPart& part = structure.parts[p];
      const std::optional<Block> block = block_at(at, part);
      if (!block)
        fault("its chunk " + std::to_string(chunk) +
              " lies outside the data window");
      const std::int32_t size = at.int32("pixel data");
      if (size < 0) fault("its chunk " + std::to_string(chunk) + " is damaged");
      at.need(static_cast<std::size_t>(size), "pixel data");
      if (part.compression == 4 &&
          !piz_framing_fits(
              bytes.substr(at.at(), static_cast<std::size_t>(size)), part,
              *block))
        fault("its pixel data cannot be decoded");
    }
}

}  // namespace

bool exr_lossless(int compression) {
  return compression >= 0 && compression <= 4;
}

ExrStructure exr_structure(std::string_view bytes) {
  Bytes in(bytes, 0);
  if (in.take(4, "header") != "\x76\x2f\x31\x01") fault("not an EXR file");
  const std::uint32_t version =
      static_cast<std::uint32_t>(in.unsigned_of(4, "header"));
  if ((version & 0xff) != 2 ||
      (version & ~(0xffu | kTiled | kLongNames | kDeep | kMultipart)) != 0)
    fault("an EXR of a version this tool does not read");
  if (version & kDeep) fault("deep data, which holds no flat image");
  // Names of up to 255 bytes, whether or not the file says it holds any
  // longer than 31: some writers forget to.
  const std::size_t longest = 255;
  ExrStructure structure;
  structure.multipart = (version & kMultipart) != 0;
  do {
    const Attributes attributes = read_header(in, longest);
    structure.parts.push_back(part_of(attributes, (version & kTiled) != 0,
                                      structure.multipart, longest));
  } while (structure.multipart && (in.need(1, "header"), bytes[in.at()]));
  if (structure.multipart) in.byte("header");  // the empty header ending them
  check_chunks(bytes, in, structure);
  return structure;
}

}  // namespace common
