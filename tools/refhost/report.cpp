// The report a person reads on standard output.
#include "tools/refhost/report.h"

#include <cstdio>

#include "tools/refhost/text.h"

namespace refhost {

namespace {

// A person reads ten of anything; the rest is counted.
constexpr std::size_t kShown = 10;

void more(std::size_t shown_of, const char* what) {
  if (shown_of > kShown)
    std::printf("    and %zu more %s\n", shown_of - kShown, what);
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
        "  %zu group%s of objects share their seeds, so they get the same "
        "colour in every renderer:\n",
        groups.seeds.size(), groups.seeds.size() == 1 ? "" : "s");
    for (std::size_t g = 0; g < groups.seeds.size() && g < kShown; ++g)
      std::printf("    %s%s\n",
                  names_of(scene, groups.seeds[g].objects).c_str(),
                  is_grey(groups.seeds[g].seeds) ? " (the same grey)" : "");
    more(groups.seeds.size(), "groups");
  }
}

void report_groups(const Scene& scene, const Groups& groups) {
  report_seed_groups(scene, groups);
  if (groups.colours.empty()) {
    std::printf("  no two objects share a colour in this image\n");
  } else {
    std::printf("  %zu group%s of objects share a colour in this image:\n",
                groups.colours.size(), groups.colours.size() == 1 ? "" : "s");
    for (std::size_t g = 0; g < groups.colours.size() && g < kShown; ++g)
      std::printf("    %s: %s\n", groups.colours[g].hex.c_str(),
                  names_of(scene, groups.colours[g].objects).c_str());
    more(groups.colours.size(), "groups");
  }
}

void report_close_pairs(const Scene& scene, const std::vector<ClosePair>& close,
                        double threshold) {
  if (close.empty()) {
    std::printf("  no two colours are closer than %g (CIEDE2000)\n", threshold);
    return;
  }
  std::printf(
      "  %zu pair%s of objects have colours closer than %g (CIEDE2000), too "
      "close to key apart reliably:\n",
      close.size(), close.size() == 1 ? "" : "s", threshold);
  for (std::size_t i = 0; i < close.size() && i < kShown; ++i)
    std::printf("    %s and %s: %.2f%s\n",
                quote(scene.objects[close[i].first].name).c_str(),
                quote(scene.objects[close[i].second].name).c_str(),
                close[i].difference, close[i].touching ? ", touching" : "");
  more(close.size(), "pairs");
}

void report_search(const Options& options, std::int32_t first,
                   const SeedChoice& choice) {
  const SeedScore& s = choice.score;
  std::printf(
      "searched %d seeds from %d: seed %d leaves %zu objects sharing seeds, "
      "%zu sharing a colour and %zu touching pairs closer than %g",
      options.search, first, choice.seed, s.seed_grouped, s.colour_grouped,
      s.touching_close, options.close);
  if (s.smallest_touching < 1e9)
    std::printf("; touching objects differ by %.2f at least",
                s.smallest_touching);
  std::printf("\n");
}

}  // namespace refhost
