#include "tools/common/exr_layers.h"

#include <algorithm>
#include <cctype>

#include "tools/common/errors.h"
#include "tools/common/quoting.h"

namespace common {

namespace {

struct Layer {
  int part;
  std::string name;
  std::array<std::string, 4> channels;  // R, G, B, A where present
  bool cryptomatte = false;
  bool colour() const {
    return !channels[0].empty() && !channels[1].empty() && !channels[2].empty();
  }
};

// The names the header gives its Cryptomatte layers: NAME00, NAME01, ...
bool is_cryptomatte(const std::string& layer,
                    const std::map<std::string, std::string>& attributes) {
  for (const auto& [key, value] : attributes) {
    if (key.rfind("cryptomatte/", 0) != 0 || key.size() < 5 ||
        key.compare(key.size() - 5, 5, "/name") != 0)
      continue;
    if (layer.size() == value.size() + 2 && layer.rfind(value, 0) == 0 &&
        std::isdigit(static_cast<unsigned char>(layer[value.size()])) &&
        std::isdigit(static_cast<unsigned char>(layer[value.size() + 1])))
      return true;
  }
  return false;
}

std::vector<Layer> layers_of(const std::vector<ExrPartChannels>& parts) {
  std::vector<Layer> layers;
  for (int part = 0; part < static_cast<int>(parts.size()); ++part) {
    const ExrPartChannels& p = parts[static_cast<std::size_t>(part)];
    for (const std::string& channel : p.channels) {
      const std::size_t dot = channel.rfind('.');
      std::string name =
          dot == std::string::npos ? std::string() : channel.substr(0, dot);
      const std::string suffix =
          dot == std::string::npos ? channel : channel.substr(dot + 1);
      // A part of bare channels is a layer of the part's name.
      if (name.empty() && !p.name.empty()) name = p.name;
      auto at = std::find_if(layers.begin(), layers.end(), [&](const Layer& l) {
        return l.part == part && l.name == name;
      });
      if (at == layers.end()) {
        layers.push_back({part, name, {}, is_cryptomatte(name, p.attributes)});
        at = layers.end() - 1;
      }
      const std::size_t which = std::string("RGBA").find(suffix);
      const std::size_t small = std::string("rgba").find(suffix);
      const std::size_t c = which != std::string::npos ? which : small;
      if (suffix.size() == 1 && c != std::string::npos &&
          at->channels[c].empty())
        at->channels[c] = channel;
    }
  }
  return layers;
}

std::string shown(const std::string& name) {
  return name.empty() ? "(the unnamed layer)" : quote_short(name);
}

std::string listing(const std::vector<Layer>& layers) {
  std::string text;
  std::vector<std::string> seen;
  for (const Layer& l : layers) {
    if (std::find(seen.begin(), seen.end(), l.name) != seen.end()) continue;
    seen.push_back(l.name);
    if (seen.size() <= 10)
      text += (seen.size() > 1 ? ", " : "") + shown(l.name);
  }
  if (seen.size() > 10)
    text += " and " + std::to_string(seen.size() - 10) + " more";
  return seen.empty() ? "none" : text;
}

}  // namespace

ExrLayer pick_layer(const std::vector<ExrPartChannels>& parts,
                    const std::string& wanted, const std::string& path) {
  const std::vector<Layer> layers = layers_of(parts);
  std::vector<const Layer*> fit;
  for (const Layer& l : layers)
    if (l.colour() && (wanted.empty() ? !l.cryptomatte : l.name == wanted))
      fit.push_back(&l);
  if (fit.size() == 1 || (!wanted.empty() && !fit.empty()))
    return {fit[0]->part, fit[0]->name, fit[0]->channels};
  if (!wanted.empty())
    throw Failure(quote(path) + ": no layer " + quote_short(wanted) +
                  " of R, G and B; its layers: " + listing(layers));
  if (fit.empty())
    throw Failure(quote(path) +
                  ": no layer of R, G and B for an ID image; its layers: " +
                  listing(layers));
  std::vector<Layer> colours;
  for (const Layer* l : fit) colours.push_back(*l);
  throw Failure(quote(path) + ": several layers of R, G and B (" +
                listing(colours) + "); choose one with --layer");
}

}  // namespace common
