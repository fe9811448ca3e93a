#include "tools/common/cryptomatte.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "tools/common/errors.h"
#include "tools/common/json_text.h"

namespace common {

namespace {

std::uint32_t rotate_left(std::uint32_t x, int r) {
  return (x << r) | (x >> (32 - r));
}

std::uint32_t load_little_endian(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) |
         (static_cast<std::uint32_t>(b[3]) << 24);
}

std::string hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace

std::uint32_t murmur3_32(std::string_view bytes, std::uint32_t seed) {
  constexpr std::uint32_t c1 = 0xcc9e2d51, c2 = 0x1b873593;
  std::uint32_t h = seed;
  const std::size_t blocks = bytes.size() / 4;
  for (std::size_t i = 0; i < blocks; ++i) {
    std::uint32_t k = load_little_endian(bytes.data() + 4 * i);
    k = rotate_left(k * c1, 15) * c2;
    h = rotate_left(h ^ k, 13) * 5 + 0xe6546b64;
  }
  const char* tail = bytes.data() + 4 * blocks;
  std::uint32_t k = 0;
  switch (bytes.size() & 3) {
    case 3:
      k ^= static_cast<std::uint32_t>(static_cast<unsigned char>(tail[2]))
           << 16;
      [[fallthrough]];
    case 2:
      k ^= static_cast<std::uint32_t>(static_cast<unsigned char>(tail[1])) << 8;
      [[fallthrough]];
    case 1:
      k ^= static_cast<unsigned char>(tail[0]);
      h ^= rotate_left(k * c1, 15) * c2;
  }
  h ^= static_cast<std::uint32_t>(bytes.size());
  h ^= h >> 16;
  h *= 0x85ebca6b;
  h ^= h >> 13;
  h *= 0xc2b2ae35;
  h ^= h >> 16;
  return h;
}

std::uint32_t cryptomatte_id(std::string_view name) {
  std::uint32_t id = murmur3_32(name, 0);
  const std::uint32_t exponent = (id >> 23) & 0xff;
  if (exponent == 0 || exponent == 0xff) id ^= 1u << 23;
  return id;
}

float id_float(std::uint32_t id) {
  float f;
  std::memcpy(&f, &id, sizeof f);
  return f;
}

std::uint32_t id_bits(float id) {
  std::uint32_t bits;
  std::memcpy(&bits, &id, sizeof bits);
  return bits;
}

RankedCoverage::RankedCoverage(int width, int height, int ranks)
    : width_(width),
      height_(height),
      ranks_(ranks),
      values_(static_cast<std::size_t>(width) * height * ranks * 2) {}

void PixelCoverage::add(std::uint32_t id, float amount) {
  auto same = std::find_if(pairs_.begin(), pairs_.end(),
                           [&](const auto& p) { return p.first == id; });
  if (same == pairs_.end()) same = pairs_.insert(pairs_.end(), {id, 0.0f});
  same->second += amount;
}

void RankedCoverage::set(
    std::size_t pixel,
    std::vector<std::pair<std::uint32_t, float>>& coverages) {
  if (coverages.size() > 1)
    std::sort(coverages.begin(), coverages.end(),
              [](const auto& a, const auto& b) {
                return a.second > b.second ||
                       (a.second == b.second && a.first < b.first);
              });
  float* value = &values_[pixel * static_cast<std::size_t>(ranks_) * 2];
  const std::size_t held =
      std::min(coverages.size(), static_cast<std::size_t>(ranks_));
  for (std::size_t r = 0; r < held; ++r) {
    value[2 * r] = id_float(coverages[r].first);
    value[2 * r + 1] = coverages[r].second;
  }
  std::fill(value + 2 * held, value + 2 * static_cast<std::size_t>(ranks_),
            0.0f);
}

void add_cryptomatte(
    ExrPicture& picture, const RankedCoverage& coverage,
    const std::vector<std::pair<std::string, std::uint32_t>>& named) {
  const std::size_t stride = static_cast<std::size_t>(coverage.ranks()) * 2;
  for (int layer = 0; layer * 2 < coverage.ranks(); ++layer) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%s%02d.", kCryptomatteLayer, layer);
    for (int c = 0; c < 4; ++c)
      picture.channels.push_back({prefix + std::string(1, "RGBA"[c]),
                                  coverage.rank(0, 2 * layer) + c, stride,
                                  picture.band_rows > 0});
  }
  // One entry a name, in the order of the names' bytes.
  std::map<std::string, std::uint32_t> ids(named.begin(), named.end());
  JsonText manifest;
  manifest.raw("{");
  bool first = true;
  for (const auto& [name, id] : ids) {
    manifest.raw(first ? "" : ",").string(name).raw(":").string(hex8(id));
    first = false;
  }
  manifest.raw("}");
  const std::string key = "cryptomatte/" +
                          hex8(cryptomatte_id(kCryptomatteLayer)).substr(0, 7) +
                          "/";
  picture.attributes.emplace_back(key + "name", kCryptomatteLayer);
  picture.attributes.emplace_back(key + "hash", "MurmurHash3_32");
  picture.attributes.emplace_back(key + "conversion", "uint32_to_float32");
  picture.attributes.emplace_back(key + "manifest", manifest.take());
}

CryptomatteRead read_cryptomatte(const ExrImage& image) {
  std::string layer, manifest;
  for (const auto& [key, value] : image.attributes)
    if (key.rfind("cryptomatte/", 0) == 0 && key.size() > 5 &&
        key.compare(key.size() - 5, 5, "/name") == 0) {
      layer = value;
      const auto m =
          image.attributes.find(key.substr(0, key.size() - 4) + "manifest");
      if (m != image.attributes.end()) manifest = m->second;
    }
  if (layer.empty()) throw Failure("no Cryptomatte layer");
  CryptomatteRead read;
  read.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
  const auto channel = [&](const std::string& prefix,
                           char c) -> const std::vector<float>* {
    for (const char suffix : {c, static_cast<char>(c - 'A' + 'a')}) {
      const auto it = image.channels.find(prefix + suffix);
      if (it != image.channels.end()) return &it->second;
    }
    return nullptr;
  };
  for (int n = 0; n < 100; ++n) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d.", n);
    const std::string prefix = layer + number;
    const auto *r = channel(prefix, 'R'), *g = channel(prefix, 'G'),
               *b = channel(prefix, 'B'), *a = channel(prefix, 'A');
    if (!r || !g || !b || !a) break;
    for (std::size_t p = 0; p < read.pixels.size(); ++p) {
      if ((*g)[p] > 0) read.pixels[p][id_bits((*r)[p])] += (*g)[p];
      if ((*a)[p] > 0) read.pixels[p][id_bits((*b)[p])] += (*a)[p];
    }
  }
  if (!manifest.empty()) {
    const nlohmann::json ids = nlohmann::json::parse(manifest);
    for (auto it = ids.begin(); it != ids.end(); ++it)
      read.ids[it.key()] = static_cast<std::uint32_t>(
          std::stoul(it.value().get<std::string>(), nullptr, 16));
  }
  return read;
}

}  // namespace common
