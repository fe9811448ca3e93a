#include "tools/matte/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "tools/matte/precision.h"
#include "tools/refhost/text.h"

namespace matte {

using refhost::count_of;
using refhost::quote;

namespace {

std::string encoding_name(Encoding e) {
  switch (e) {
    case Encoding::kFloat:
      return "float EXR";
    case Encoding::kHalf:
      return "half EXR";
    case Encoding::kByte:
      return "8-bit PNG";
    case Encoding::kShort:
      return "16-bit PNG";
  }
  return "";
}

std::string all_names(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i)
    text += (i ? ", " : "") + refhost::quote_short(names[i]);
  return text;
}

// Names of a group, as a person reads them: the first few and a count.
std::string some_names(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < 10; ++i)
    text += (i ? ", " : "") + quote(names[i]);
  if (names.size() > 10)
    text += " and " + std::to_string(names.size() - 10) + " more";
  return text;
}

std::string relative(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", value);
  return text;
}

void report_samples(const Unmixed& unmixed) {
  const SampleCount& s = unmixed.samples;
  switch (s.from) {
    case SampleCount::From::kManifest:
      std::printf("  samples per pixel: %d, as the manifest says\n", s.samples);
      break;
    case SampleCount::From::kImage:
      std::printf("  samples per pixel: %d, told by the image's coverages\n",
                  s.samples);
      break;
    case SampleCount::From::kUnknown:
      std::printf(
          "  samples per pixel: not told by the image: its coverages lie on "
          "no whole number of samples up to %d, the most its precision "
          "tells apart (more samples, a pixel filter's weights, or adaptive "
          "sampling), so mixes are fitted without them\n",
          s.most_told);
      break;
    case SampleCount::From::kTooFew:
      std::printf(
          "  samples per pixel: not told by the image: too few of its "
          "pixels decide a coverage, so mixes are fitted without them\n");
  }
  if (s.manifest_said > 0)
    std::printf(
        "  the manifest's %d samples per pixel do not fit the image's "
        "coverages\n",
        s.manifest_said);
}

void report_precision(const IdImage& image, const Palette& palette,
                      const Unmixed& unmixed) {
  const Merged& m = palette.merged();
  const Accumulation& a = unmixed.accumulation;
  if (palette.uncertainty() > 0 || m.variants > 0) {
    std::printf(
        "  colours found in fully covered pixels, each known to within %s of "
        "its value (the renderer's float sums); %s of them held scattered "
        "values, up to %s apart, merged into one\n",
        relative(palette.uncertainty()).c_str(),
        std::to_string(m.variants).c_str(), relative(m.spread).c_str());
  } else if (image.codes.empty() && a.pixels > 0) {
    std::printf(
        "  the renderer's float sums: fully covered pixels within %s of "
        "their colour, relative, over %s\n",
        a.relative > 0 ? relative(a.relative).c_str() : "rounding",
        count_of(a.pixels, "pixel").c_str());
  }
}

// How many names the records hold, and how many the image shows: those of
// an entry that covers some pixel.
void report_records(const Palette& palette, const Sources& sources,
                    const Unmixed& unmixed) {
  std::vector<bool> shown(palette.entries().size(), false);
  for (std::size_t p = 0; p < unmixed.codes.size(); ++p) {
    const Reading r = unmixed.at(p).reading;
    for (int i = 0; i < r.count; ++i) shown[r.entry[i]] = true;
  }
  std::set<std::string> names;
  for (std::size_t e = 0; e < shown.size(); ++e)
    if (shown[e])
      names.insert(palette.entries()[e].names.begin(),
                   palette.entries()[e].names.end());
  std::printf("  the records hold %s, %zu of them in this image\n",
              count_of(sources.record_names, "name").c_str(), names.size());
}

}  // namespace

std::vector<std::pair<std::uint32_t, std::uint32_t>> close_colours(
    const IdImage& image, const Palette& palette) {
  const Precision precision(image);
  const auto& shades = palette.shades();
  std::vector<std::pair<std::uint32_t, std::uint32_t>> close;
  std::vector<std::uint32_t> found;
  for (std::uint32_t a = 0; a < shades.size(); ++a) {
    Colour reach;
    for (int c = 0; c < 3; ++c)
      reach[c] = 8 * precision.step(std::fabs(shades[a][c])) + 1e-12;
    found.clear();
    palette.shades_within(shades[a], reach, found);
    for (std::uint32_t b : found) {
      const std::uint32_t ea = palette.entry_of(a), eb = palette.entry_of(b);
      if (ea >= eb) continue;
      bool near = true;
      for (int c = 0; c < 3; ++c)
        near =
            near && std::fabs(shades[a][c] - shades[b][c]) <
                        8 * precision.step(std::max(std::fabs(shades[a][c]),
                                                    std::fabs(shades[b][c])));
      if (near) close.emplace_back(ea, eb);
    }
  }
  std::sort(close.begin(), close.end());
  close.erase(std::unique(close.begin(), close.end()), close.end());
  return close;
}

void report(const std::string& image_path, const IdImage& image,
            const Palette& palette, const Sources& sources,
            const Unmixed& unmixed, const std::vector<std::uint32_t>& selected,
            const std::vector<Written>& written) {
  const auto& entries = palette.entries();
  std::size_t names = 0;
  for (const Entry& e : entries) names += e.names.size();
  const std::string layer =
      image.layer.empty() ? "" : ", layer " + quote(image.layer);
  std::printf("%s (%dx%d, %s%s): %s in %s\n", quote(image_path).c_str(),
              image.width, image.height, encoding_name(image.encoding).c_str(),
              layer.c_str(), count_of(names, "object").c_str(),
              count_of(entries.size(), "colour").c_str());
  if (sources.record_names > 0) report_records(palette, sources, unmixed);
  report_samples(unmixed);
  report_precision(image, palette, unmixed);
  std::printf(
      "  %s: %zu of one colour, %zu mixed and decided by the image, %zu "
      "decided by neighbours, %zu within precision only, %s unexplained\n",
      count_of(image.pixels(), "pixel").c_str(), unmixed.count(Decided::kSolid),
      unmixed.count(Decided::kImage), unmixed.count(Decided::kNeighbours),
      unmixed.count(Decided::kLoose),
      count_of(unmixed.count(Decided::kUnexplained), "pixel").c_str());
  for (const Entry& e : entries)
    if (e.names.size() > 1)
      std::printf(
          "  one colour, %s, for %s: no matte parts them; the Cryptomatte "
          "keys them all under the ID of %s\n",
          e.hex.c_str(), all_names(e.names).c_str(),
          refhost::quote_short(e.names.front()).c_str());
  const auto close = close_colours(image, palette);
  for (std::size_t i = 0; i < close.size() && i < 10; ++i)
    std::printf("  %s and %s: colours too close for a %s to part their mix\n",
                quote(entries[close[i].first].names.front()).c_str(),
                quote(entries[close[i].second].names.front()).c_str(),
                encoding_name(image.encoding).c_str());
  if (close.size() > 10)
    std::printf("    and %s more\n",
                count_of(close.size() - 10, "pair").c_str());
  if (!selected.empty()) {
    std::vector<std::string> picked;
    for (std::uint32_t e : selected)
      picked.insert(picked.end(), entries[e].names.begin(),
                    entries[e].names.end());
    std::printf("  selected %s: %s\n",
                count_of(picked.size(), "object").c_str(),
                some_names(picked).c_str());
  }
  for (const Written& w : written)
    std::printf("  %-13s %s\n", (w.option.substr(2) + ":").c_str(),
                quote(w.path).c_str());
}

}  // namespace matte
