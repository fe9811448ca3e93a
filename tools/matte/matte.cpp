#include "tools/matte/matte.h"

#include <cstdio>
#include <new>

#include "tools/matte/options.h"
#include "tools/matte/process.h"
#include "tools/refhost/platform.h"
#include "tools/refhost/text.h"

namespace matte {

using refhost::count_of;
using refhost::kFailure;
using refhost::report_error;

namespace {

// One frame, with its failure reported and counted rather than raised.
bool process_frame(const Options& options, long frame) {
  try {
    process(options, frame);
    return true;
  } catch (const refhost::platform::Interrupted&) {
    throw;
  } catch (const std::bad_alloc&) {
    report_error("frame " + std::to_string(frame) + ": out of memory",
                 kFailure);
  } catch (const std::exception& e) {
    report_error("frame " + std::to_string(frame) + ": " + e.what(), kFailure);
  }
  return false;
}

}  // namespace

int run(int argc, const char* const* argv) {
  refhost::set_program_name("ravelTint-matte");
  return refhost::run_program([&] {
    Options options;
    if (const auto stop = parse_options(argc, argv, options)) return *stop;
    if (!options.frames) {
      process(options, 0);
      return 0;
    }
    std::size_t failed = 0;
    const long count = options.last_frame - options.first_frame + 1;
    for (long f = options.first_frame; f <= options.last_frame; ++f)
      failed += !process_frame(options, f);
    std::printf("%s of %s done", count_of(count - failed, "frame").c_str(),
                std::to_string(count).c_str());
    std::printf(failed ? ", %zu failed\n" : "\n", failed);
    return failed ? kFailure : 0;
  });
}

}  // namespace matte
