#include "tools/refhost/report.h"

#include <cstdio>

#include "tools/common/quoting.h"
#include "tools/common/words.h"

namespace refhost {

using common::count_of;
using common::quote;

namespace {

// A person reads ten of anything; the rest is counted.
constexpr std::size_t kShown = 10;

void more(std::size_t shown_of, const char* noun) {
  if (shown_of > kShown)
    std::printf("    and %s more\n", count_of(shown_of - kShown, noun).c_str());
}

// The names of a group, as a person reads them: the first ten, and how many
// more (a large scene's grey group has thousands).
std::string names_of(const Scene& scene,
                     const std::vector<std::size_t>& objects) {
  std::string names;
  for (std::size_t n = 0; n < objects.size() && n < kShown; ++n)
    names += (n ? ", " : "") + quote(scene.objects[objects[n]].name);
  if (objects.size() > kShown)
    names += " and " + std::to_string(objects.size() - kShown) + " more";
  return names;
}

}  // namespace

void report_seed_groups(const Scene& scene, const Groups& groups) {
  if (groups.seeds.empty()) {
    std::printf("  no two objects share their seeds\n");
  } else {
    std::printf(
        "  %s of objects share their seeds, so they get the same colour in "
        "every renderer:\n",
        count_of(groups.seeds.size(), "group").c_str());
    for (std::size_t g = 0; g < groups.seeds.size() && g < kShown; ++g)
      std::printf("    %s%s\n",
                  names_of(scene, groups.seeds[g].objects).c_str(),
                  is_grey(groups.seeds[g].seeds) ? " (the same grey)" : "");
    more(groups.seeds.size(), "group");
  }
}

void report_groups(const Scene& scene, const Groups& groups) {
  report_seed_groups(scene, groups);
  if (groups.colours.empty()) {
    std::printf("  no two objects share a colour in this image\n");
  } else {
    std::printf("  %s of objects share a colour in this image:\n",
                count_of(groups.colours.size(), "group").c_str());
    for (std::size_t g = 0; g < groups.colours.size() && g < kShown; ++g)
      std::printf("    %s: %s\n", groups.colours[g].hex.c_str(),
                  names_of(scene, groups.colours[g].objects).c_str());
    more(groups.colours.size(), "group");
  }
}

void report_close_pairs(const Scene& scene, const ClosePairs& close,
                        double threshold) {
  const char* compared = close.touching_only
                             ? " (touching pairs only: too many to compare all)"
                             : "";
  if (close.pairs.empty()) {
    std::printf("  no two colours are closer than %g (CIEDE2000)%s\n",
                threshold, compared);
    return;
  }
  std::printf(
      "  %s of objects %s colours closer than %g (CIEDE2000)%s, too close to "
      "key apart reliably:\n",
      count_of(close.found(), "pair").c_str(),
      close.found() == 1 ? "has" : "have", threshold, compared);
  for (std::size_t i = 0; i < close.pairs.size() && i < kShown; ++i)
    std::printf("    %s and %s: %.2f%s\n",
                quote(scene.objects[close.pairs[i].first].name).c_str(),
                quote(scene.objects[close.pairs[i].second].name).c_str(),
                close.pairs[i].difference,
                close.pairs[i].touching ? ", touching" : "");
  more(close.found(), "pair");
  if (close.left_out > 0)
    std::printf(
        "    (the manifest lists %s, the touching and the closest "
        "first; %zu more are left out)\n",
        count_of(close.pairs.size(), "pair").c_str(), close.left_out);
}

void report_search(const Options& options, std::int32_t first,
                   const SeedChoice& choice) {
  const SeedScore& s = choice.score;
  std::printf(
      "searched %s from %d: seed %d leaves %s sharing seeds, %zu sharing a "
      "colour and %s closer than %g",
      count_of(static_cast<std::size_t>(options.search), "seed").c_str(), first,
      choice.seed, count_of(s.seed_grouped, "object").c_str(), s.colour_grouped,
      count_of(s.touching_close, "touching pair").c_str(), options.close);
  if (s.smallest_touching < 1e9)
    std::printf("; touching objects differ by %.2f at least",
                s.smallest_touching);
  std::printf("\n");
}

}  // namespace refhost
