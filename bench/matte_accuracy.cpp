// How exactly ravelTint-matte recovers coverage: compares its Cryptomatte
// with the reference host's, which counts every object's samples, over every
// pixel where some object's coverage lies strictly between 0 and 1; and the
// exact-colour key (a pixel is an object's where it holds that object's
// colour exactly, with alpha 1) on the same pixels, for comparison. Objects
// that share a colour in the image cannot be told apart, by any means: the
// truth counts them as the one entry the estimate's manifest names them by.
//   matte_accuracy TRUTH.exr ESTIMATE.exr [ENCODING [N]]
// ENCODING (float, half or png: how the unmixed image held its pixels) also
// tallies apart the pixels that the image cannot tell: where the estimate's
// mix of palette colours, stored as that image stores a pixel, gives the
// very pixel the true mix gives, no reading of the image can prefer the
// truth. With N, also lists the first N pixels the estimate gets wrong by
// more than 0.05, with both coverages, to see why.
// TRUTH is `refhost --cryptomatte`, which also holds the flat image and its
// manifest; ESTIMATE is `ravelTint-matte ... --cryptomatte`.
#include <Imath/half.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/common/colour.h"
#include "tools/common/cryptomatte.h"
#include "tools/common/exr_file.h"

namespace {

using Coverages = std::map<std::uint32_t, double>;
using IdMap = std::map<std::uint32_t, std::uint32_t>;
using Colours = std::map<std::uint32_t, std::array<double, 3>>;
enum class Encoding { kNone, kFloat, kHalf, kPng };

// A mix of colours as the image would hold its pixel: premultiplied float or
// half RGBA, or the PNG's straight sRGB codes and linear alpha code.
std::array<float, 4> stored(const Coverages& mix, const Colours& colours,
                            Encoding encoding) {
  std::array<double, 4> sum{};
  for (const auto& [id, c] : mix) {
    for (int k = 0; k < 3; ++k) sum[k] += c * colours.at(id)[k];
    sum[3] += c;
  }
  std::array<float, 4> pixel{};
  for (int k = 0; k < 4; ++k) {
    const auto value = static_cast<float>(sum[k]);
    if (encoding == Encoding::kHalf)
      pixel[k] = static_cast<float>(Imath::half(value));
    else if (encoding == Encoding::kPng)
      pixel[k] = k == 3 ? common::linear_byte(sum[3])
                        : common::srgb_byte(sum[3] > 0 ? sum[k] / sum[3] : 0);
    else
      pixel[k] = value;
  }
  return pixel;
}

Encoding encoding_of(const char* name) {
  for (const auto& [text, encoding] :
       {std::pair{"float", Encoding::kFloat},
        std::pair{"half", Encoding::kHalf}, std::pair{"png", Encoding::kPng}})
    if (std::strcmp(name, text) == 0) return encoding;
  throw std::runtime_error(std::string("unknown encoding ") + name);
}

// Each pixel's coverages by ID, with IDs taken `as` another file knows
// them.
std::vector<Coverages> coverages_of(const common::CryptomatteRead& read,
                                    const IdMap& as = {}) {
  std::vector<Coverages> pixels(read.pixels.size());
  for (std::size_t p = 0; p < pixels.size(); ++p)
    for (const auto& [id, c] : read.pixels[p]) {
      const auto it = as.find(id);
      pixels[p][it == as.end() ? id : it->second] += c;
    }
  return pixels;
}

const std::vector<float>& channel(const common::ExrImage& image,
                                  const std::string& prefix, char c) {
  for (const char suffix : {c, static_cast<char>(c - 'A' + 'a')}) {
    const auto it = image.channels.find(prefix + suffix);
    if (it != image.channels.end()) return it->second;
  }
  throw std::runtime_error("no channel " + prefix + c);
}

// The flat image's channels: R, G, B, A, or those of the one layer beside
// the Cryptomatte that holds them (ViewLayer.Combined.R, ...).
std::string colour_prefix(const common::ExrImage& image) {
  if (image.channels.count("R")) return "";
  for (const auto& [name, values] : image.channels)
    if (name.size() > 2 && name.compare(name.size() - 2, 2, ".R") == 0)
      return name.substr(0, name.size() - 1);
  throw std::runtime_error("no R channel");
}

struct Tally {
  // Pixels of more than four objects cannot be parted; they are tallied
  // apart too.
  double sum = 0, sum_few = 0, worst_few = 0;
  std::size_t pairs = 0, pairs_few = 0, pixels = 0, pixels_over = 0,
              pixels_many = 0;
  double add(const Coverages& truth, const Coverages& estimate) {
    Coverages all = truth;
    for (const auto& [id, c] : estimate) all.emplace(id, 0.0);
    double pixel_worst = 0;
    const bool few = truth.size() <= 4;
    for (const auto& [id, ignored] : all) {
      const auto t = truth.find(id), e = estimate.find(id);
      const double error = std::fabs((t == truth.end() ? 0 : t->second) -
                                     (e == estimate.end() ? 0 : e->second));
      sum += error;
      ++pairs;
      sum_few += few ? error : 0;
      pairs_few += few;
      pixel_worst = std::max(pixel_worst, error);
    }
    ++pixels;
    pixels_over += pixel_worst > 0.05;
    if (few) worst_few = std::max(worst_few, pixel_worst);
    pixels_many += !few;
    return pixel_worst;
  }
  void print(const char* what) const {
    std::printf(
        "%-18s mean %.3g, pixels off by more than 0.05: %.3g %%; of 4 or "
        "fewer objects: mean %.3g, worst %.3g (%zu pixels of more)\n",
        what, pairs ? sum / pairs : 0.0,
        pixels ? 100.0 * pixels_over / pixels : 0.0,
        pairs_few ? sum_few / pairs_few : 0.0, worst_few, pixels_many);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr,
                 "usage: matte_accuracy TRUTH.exr ESTIMATE.exr [ENCODING "
                 "[N]]\n");
    return 2;
  }
  try {
    common::ExrImage truth_file = common::read_exr(argv[1]);
    const common::ExrImage estimate_file = common::read_exr(argv[2]);
    const auto truth_read = common::read_cryptomatte(truth_file);
    const auto estimate_read = common::read_cryptomatte(estimate_file);
    // Each object's ID as the estimate knows it: its colour's entry.
    IdMap as_estimated;
    for (const auto& [name, id] : truth_read.ids) {
      const auto e = estimate_read.ids.find(name);
      if (e != estimate_read.ids.end()) as_estimated[id] = e->second;
    }
    const auto truth = coverages_of(truth_read, as_estimated);
    const auto estimate = coverages_of(estimate_read);
    // The exact-colour key, from the flat image and the manifest (the
    // truth's own, or the one the estimate was unmixed with).
    std::map<std::vector<float>, std::uint32_t> colour_ids;
    Colours colours;
    const auto text = truth_file.attributes.count("ravelTint/manifest")
                          ? truth_file.attributes.at("ravelTint/manifest")
                          : estimate_file.attributes.at("ravelTint/manifest");
    const auto manifest = nlohmann::json::parse(text);
    for (const auto& o : manifest["objects"]) {
      const std::uint32_t truth_id =
          common::cryptomatte_id(o["name"].get<std::string>());
      const std::uint32_t id =
          as_estimated.count(truth_id) ? as_estimated[truth_id] : truth_id;
      const std::vector<float> colour{o["colour"][0].get<float>(),
                                      o["colour"][1].get<float>(),
                                      o["colour"][2].get<float>()};
      colour_ids.emplace(colour, id);
      colours[id] = {colour[0], colour[1], colour[2]};
    }
    const std::string flat = colour_prefix(truth_file);
    const Encoding encoding =
        argc >= 4 ? encoding_of(argv[3]) : Encoding::kNone;
    Tally unmixed, keyed, told;
    std::size_t wrong = 0, untold = 0;
    const int show = argc == 5 ? std::atoi(argv[4]) : 0;
    int shown = 0;
    std::size_t edge = 0;
    std::size_t whole = 0, whole_wrong = 0;
    for (std::size_t p = 0; p < truth.size(); ++p) {
      bool partial = false;
      for (const auto& [id, c] : truth[p])
        partial = partial || (c > 0 && c < 1);
      if (!partial) {
        // A pixel one object covers whole, read as anything else.
        if (truth[p].size() != 1) continue;
        ++whole;
        Tally one;
        whole_wrong += one.add(truth[p], estimate[p]) > 0.05;
        continue;
      }
      ++edge;
      const double worst = unmixed.add(truth[p], estimate[p]);
      wrong += worst > 1e-6;
      if (worst > 1e-6 && encoding != Encoding::kNone &&
          stored(truth[p], colours, encoding) ==
              stored(estimate[p], colours, encoding))
        ++untold;
      else
        told.add(truth[p], estimate[p]);
      if (worst > 0.05 && shown < show) {
        ++shown;
        std::printf("(%zu, %zu):", p % truth_file.width, p / truth_file.width);
        for (const auto& [id, c] : truth[p]) std::printf(" %08x %.4f", id, c);
        std::printf(" | estimated");
        for (const auto& [id, c] : estimate[p])
          std::printf(" %08x %.4f", id, c);
        std::printf("\n");
      }
      Coverages key;
      const auto c = colour_ids.find({channel(truth_file, flat, 'R')[p],
                                      channel(truth_file, flat, 'G')[p],
                                      channel(truth_file, flat, 'B')[p]});
      if (c != colour_ids.end() && channel(truth_file, flat, 'A')[p] == 1.0f)
        key[c->second] = 1;
      keyed.add(truth[p], key);
    }
    std::printf(
        "%zu edge pixels; of %zu pixels one object covers whole, %zu "
        "read otherwise\n",
        edge, whole, whole_wrong);
    unmixed.print("unmixed:");
    if (encoding != Encoding::kNone) {
      std::printf(
          "%zu pixels wrong, %zu of them where the image cannot tell the "
          "mixes apart (%.3g of the mean)\n",
          wrong, untold,
          unmixed.pairs ? (unmixed.sum - told.sum) / unmixed.pairs : 0.0);
      told.print("the others:");
    }
    keyed.print("exact-colour key:");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "matte_accuracy: %s\n", e.what());
    return 1;
  }
  return 0;
}
