#include "tools/matte/palette.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "tools/matte/unmix.h"
#include "tools/refhost/colour.h"
#include "tools/refhost/text.h"

namespace matte {

using refhost::Failure;

namespace {

std::uint32_t float_bits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// A float rounded to the nearest half (to even), as a half EXR stores it.
float to_half(float f) {
  if (!(std::fabs(f) >= 0x1p-24f)) return f == 0 ? f : 0.0f;
  int exponent;
  std::frexp(f, &exponent);
  // A half keeps 11 significant bits down to 2^-14, then a fixed step.
  const float step = std::ldexp(1.0f, std::max(exponent - 11, -24));
  return std::nearbyint(f / step) * step;
}

std::string hex_of(const std::array<double, 3>& c) {
  return refhost::hex_colour({static_cast<float>(c[0]),
                              static_cast<float>(c[1]),
                              static_cast<float>(c[2]), 1.0f});
}

}  // namespace

bool fully_covered(const IdImage& image, std::size_t p) {
  if (!image.codes.empty()) return image.codes[4 * p + 3] == image.full_code();
  return image.rgba[4 * p + 3] == 1.0f;
}

Key pixel_key(const IdImage& image, std::size_t p) {
  Key key{};
  for (int c = 0; c < 3; ++c)
    key[c] = image.codes.empty() ? float_bits(image.rgba[4 * p + c])
                                 : image.codes[4 * p + c];
  return key;
}

Key Palette::key_of(const std::array<double, 3>& colour) const {
  Key key{};
  for (int c = 0; c < 3; ++c) {
    const float f = static_cast<float>(colour[c]);
    switch (image_->encoding) {
      case Encoding::kFloat:
        key[c] = float_bits(f);
        break;
      case Encoding::kHalf:
        key[c] = float_bits(to_half(f));
        break;
      default:
        key[c] = static_cast<std::uint32_t>(encode_code(*image_, colour[c]));
    }
  }
  return key;
}

void Palette::add(const std::array<double, 3>& colour,
                  const std::string& name) {
  const auto [it, fresh] = by_key_.try_emplace(
      key_of(colour), static_cast<std::uint32_t>(entries_.size()));
  if (fresh) entries_.push_back({colour, {}, hex_of(colour)});
  entries_[it->second].names.push_back(name);
}

Palette Palette::from_manifest(const std::string& text,
                               const std::string& origin,
                               const IdImage& image) {
  Palette palette(image);
  try {
    const nlohmann::json manifest = nlohmann::json::parse(text);
    if (manifest.value("manifest_version", 0) != 2)
      throw Failure(origin + ": not a manifest of version 2");
    // Samples beyond what a float's fraction can count help nothing.
    const int samples = manifest.value("image", nlohmann::json::object())
                            .value("samples_per_pixel", 0);
    if (samples > 0 && samples <= 65536) palette.samples_ = samples;
    for (const auto& object : manifest.at("objects")) {
      const auto& c = object.at("colour");
      // The manifest's numbers are 32-bit floats, written as their shortest
      // text: read them as such.
      palette.add({static_cast<float>(c.at(0).get<double>()),
                   static_cast<float>(c.at(1).get<double>()),
                   static_cast<float>(c.at(2).get<double>())},
                  object.at("name").get<std::string>());
    }
  } catch (const nlohmann::json::exception& e) {
    throw Failure(origin + ": not a manifest (" +
                  refhost::printable_line(e.what()) + ")");
  }
  return palette;
}

Palette Palette::from_pixels(const IdImage& image) {
  Palette palette(image);
  // Colours of fully covered pixels next to one of the same: how often, and
  // one place each is seen.
  std::map<Key, std::pair<std::size_t, std::size_t>> seen;
  const auto same_full = [&](std::size_t a, std::size_t b) {
    return fully_covered(image, b) &&
           pixel_key(image, a) == pixel_key(image, b);
  };
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * image.width + x;
      if (!fully_covered(image, p)) continue;
      if ((x + 1 < image.width && same_full(p, p + 1)) ||
          (y + 1 < image.height && same_full(p, p + image.width))) {
        auto& s = seen.try_emplace(pixel_key(image, p), 0, p).first->second;
        ++s.first;
      }
    }
  // The most common first; a colour that two or three of the others mix
  // exactly is an edge where objects meet, not an object.
  std::vector<std::pair<Key, std::pair<std::size_t, std::size_t>>> order(
      seen.begin(), seen.end());
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) {
                     return a.second.first > b.second.first;
                   });
  std::vector<std::array<double, 3>> colours;
  for (const auto& [key, where] : order) {
    std::array<double, 3> colour;
    const std::size_t p = where.second;
    for (int c = 0; c < 3; ++c)
      colour[c] = image.codes.empty()
                      ? image.rgba[4 * p + c]
                      : decode_code(image, image.codes[4 * p + c]);
    colours.push_back(colour);
  }
  // Each candidate is judged against the kept ones around its place.
  std::map<Key, std::uint32_t> index_of;
  for (std::uint32_t i = 0; i < order.size(); ++i) index_of[order[i].first] = i;
  std::vector<bool> is_kept(order.size(), false);
  std::vector<std::uint32_t> kept;
  for (std::uint32_t i = 0; i < colours.size(); ++i) {
    const std::size_t p = order[i].second.second;
    const int x = static_cast<int>(p % image.width);
    const int y = static_cast<int>(p / image.width);
    std::vector<std::uint32_t> near;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height)
          continue;
        const std::size_t q = static_cast<std::size_t>(ny) * image.width + nx;
        if (!fully_covered(image, q)) continue;
        const auto j = index_of.find(pixel_key(image, q));
        if (j != index_of.end() && is_kept[j->second] &&
            std::find(near.begin(), near.end(), j->second) == near.end() &&
            near.size() < 8)
          near.push_back(j->second);
      }
    const Mix mix = best_mix(image, p, colours, near);
    if (mix.explained && mix.count >= 2) continue;
    is_kept[i] = true;
    kept.push_back(i);
  }
  std::map<std::string, int> hexes;
  for (std::uint32_t i : kept) {
    std::string name = hex_of(colours[i]);
    if (++hexes[name] > 1) name += "-" + std::to_string(hexes[name]);
    palette.entries_.push_back({colours[i], {name}, hex_of(colours[i])});
    palette.by_key_.emplace(order[i].first, static_cast<std::uint32_t>(
                                                palette.entries_.size() - 1));
  }
  return palette;
}

}  // namespace matte
