#include "tools/matte/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "tools/common/errors.h"
#include "tools/common/quoting.h"
#include "tools/common/words.h"
#include "tools/matte/close_colours.h"
#include "tools/matte/precision.h"

namespace matte {

using common::count_of;
using common::quote;

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

// Names of a group, as a person reads them: the first few and a count.
std::string some_names(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < 10; ++i)
    text += (i ? ", " : "") + common::quote_short(names[i]);
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
                    const std::vector<bool>& shown) {
  std::set<std::string> names;
  for (std::size_t e = 0; e < shown.size(); ++e)
    if (shown[e])
      names.insert(palette.entries()[e].names.begin(),
                   palette.entries()[e].names.end());
  std::printf("  the records hold %s, %zu of them in this image\n",
              count_of(sources.record_names, "name").c_str(), names.size());
}

// The colours that several names share, those the image shows first; a
// manifest may hold thousands, so the first few are named and the rest
// counted.
void report_shared(const Palette& palette, const std::vector<bool>& shown) {
  constexpr std::size_t kNamed = 10;
  const auto& entries = palette.entries();
  std::size_t named = 0, more = 0;
  for (bool in_image : {true, false})
    for (std::size_t e = 0; e < entries.size(); ++e) {
      if (entries[e].names.size() < 2 || shown[e] != in_image) continue;
      if (named == kNamed) {
        ++more;
        continue;
      }
      ++named;
      std::printf(
          "  one colour, %s, for %s: no matte parts them; the Cryptomatte "
          "keys them all under the ID of %s\n",
          entries[e].hex.c_str(), some_names(entries[e].names).c_str(),
          common::quote_short(entries[e].names.front()).c_str());
    }
  if (more > 0)
    std::printf("    and %zu more %s, each of several names\n", more,
                more == 1 ? "colour" : "colours");
}

void report_close(const IdImage& image, const Palette& palette,
                  const std::vector<bool>& shown) {
  const auto& entries = palette.entries();
  const CloseColours close = close_colours(image, palette, shown);
  for (const auto& [a, b] : close.first)
    std::printf("  %s and %s: colours too close for a %s to part their mix\n",
                common::quote_short(entries[a].names.front()).c_str(),
                common::quote_short(entries[b].names.front()).c_str(),
                encoding_name(image.encoding).c_str());
  if (close.found > close.first.size())
    std::printf("    and %s more\n",
                count_of(close.found - close.first.size(), "pair").c_str());
  if (close.stopped)
    std::printf(
        "    (the search for close colours stopped after %llu comparisons; "
        "more pairs may be close)\n",
        static_cast<unsigned long long>(kMostColourComparisons));
}

}  // namespace

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
  if (image.gamma_was_srgb)
    std::printf(
        "  its gAMA of 1/2.2 beside the sRGB primaries is read as the sRGB "
        "curve, as the file was meant\n");
  const std::vector<bool> shown = entries_shown(palette, unmixed);
  if (sources.record_names > 0) report_records(palette, sources, shown);
  report_samples(unmixed);
  report_precision(image, palette, unmixed);
  std::printf(
      "  %s: %zu of one colour, %zu mixed and decided by the image, %zu "
      "decided by neighbours, %zu within precision only, %s unexplained\n",
      count_of(image.pixels(), "pixel").c_str(), unmixed.count(Decided::kSolid),
      unmixed.count(Decided::kImage), unmixed.count(Decided::kNeighbours),
      unmixed.count(Decided::kLoose),
      count_of(unmixed.count(Decided::kUnexplained), "pixel").c_str());
  report_shared(palette, shown);
  report_close(image, palette, shown);
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

void warn_if_mostly_unexplained(const std::string& image_path,
                                const std::vector<std::string>& manifests,
                                const Unmixed& unmixed) {
  const std::size_t covered =
      unmixed.codes.size() - unmixed.count(Decided::kEmpty);
  const std::size_t unexplained = unmixed.count(Decided::kUnexplained);
  if (manifests.empty() || 2 * unexplained <= covered) return;
  std::string given;
  for (std::size_t i = 0; i < manifests.size() && i < 3; ++i)
    given += (i ? ", " : "") + common::quote_short(manifests[i]);
  if (manifests.size() > 3)
    given += " and " + std::to_string(manifests.size() - 3) + " more";
  std::fflush(stdout);
  std::fprintf(stderr,
               "%s: warning: %s: %zu of %s fit no colour of %s; is that "
               "this image's manifest?\n",
               common::program_name(), quote(image_path).c_str(), unexplained,
               count_of(covered, "covered pixel").c_str(), given.c_str());
}

}  // namespace matte
