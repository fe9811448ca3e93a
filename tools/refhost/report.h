// The report a person reads on standard output: one quoted, escaped line a
// group or pair, at most ten names of a group.
#pragma once

#include <cstdint>

#include "tools/refhost/groups.h"
#include "tools/refhost/options.h"
#include "tools/refhost/scene.h"
#include "tools/refhost/seed_search.h"

namespace refhost {

void report_seed_groups(const Scene& scene, const Groups& groups);
void report_groups(const Scene& scene, const Groups& groups);
void report_close_pairs(const Scene& scene, const ClosePairs& close,
                        double threshold);
void report_search(const Options& options, std::int32_t first,
                   const SeedChoice& choice);

}  // namespace refhost
