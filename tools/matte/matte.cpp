#include "tools/matte/matte.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>
#include <vector>

#include "tools/common/errors.h"
#include "tools/common/platform.h"
#include "tools/common/quoting.h"
#include "tools/common/words.h"
#include "tools/matte/options.h"
#include "tools/matte/process.h"

namespace matte {

using common::count_of;
using common::kFailure;
using common::report_error;

namespace {

// One frame, with its failure reported and counted rather than raised.
bool process_frame(const Options& options, long frame) {
  try {
    process(options, frame);
    return true;
  } catch (const common::platform::Interrupted&) {
    throw;
  } catch (const std::bad_alloc&) {
    report_error("frame " + std::to_string(frame) + ": out of memory",
                 kFailure);
  } catch (const std::exception& e) {
    report_error("frame " + std::to_string(frame) + ": " + e.what(), kFailure);
  }
  return false;
}

// A file name as the file system compares it.
std::string comparable(const std::string& name) {
#ifdef _WIN32
  return common::ascii_lower(name);
#else
  return name;
#endif
}

// The frames of the range whose image is on disk, found by listing the
// image's folder once: a range far beyond the files costs nothing for each
// frame it names.
std::vector<long> frames_on_disk(const Options& options) {
  namespace fs = std::filesystem;
  const fs::path pattern = fs::u8path(options.image);
  const std::string name = comparable(pattern.filename().u8string());
  const std::size_t run = name.find('#');
  const std::size_t run_end = name.find_first_not_of('#', run);
  const std::string prefix = name.substr(0, run);
  const std::string suffix =
      run_end == std::string::npos ? "" : name.substr(run_end);
  const fs::path folder =
      pattern.has_parent_path() ? pattern.parent_path() : fs::path(".");
  std::vector<long> frames;
  std::error_code error;
  for (const auto& item : fs::directory_iterator(folder, error)) {
    const std::string file = comparable(item.path().filename().u8string());
    if (file.size() <= prefix.size() + suffix.size() ||
        file.compare(0, prefix.size(), prefix) != 0 ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string digits =
        file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
    if (digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const long frame = std::stol(digits);
    // Named as this run names the frame, padding and all.
    if (frame >= options.first_frame && frame <= options.last_frame &&
        frame_path(name, frame) == file)
      frames.push_back(frame);
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

// Every frame of the range with an image, each on its own; the frames
// without one are failures too, the first few named and the rest counted.
int run_frames(const Options& options) {
  constexpr long kNamed = 5;
  const std::vector<long> frames = frames_on_disk(options);
  long failed = 0, missing = 0, last_missing = 0;
  const auto report_missing = [&](long from, long to) {  // frames [from, to)
    for (long f = from; f < to && missing + (f - from) < kNamed; ++f)
      report_error("frame " + std::to_string(f) + ": " +
                       common::quote(frame_path(options.image, f)) +
                       ": no such file",
                   kFailure);
    if (from < to) last_missing = to - 1;
    missing += to - from;
  };
  long expected = options.first_frame;
  for (long f : frames) {
    report_missing(expected, f);
    failed += !process_frame(options, f);
    expected = f + 1;
  }
  report_missing(expected, options.last_frame + 1);
  if (missing > kNamed)
    report_error(std::to_string(missing - kNamed) +
                     " more frames of the range have no image, the last "
                     "frame " +
                     std::to_string(last_missing),
                 kFailure);
  failed += missing;
  const long count = options.last_frame - options.first_frame + 1;
  std::printf(
      "%s of %ld done",
      count_of(static_cast<std::size_t>(count - failed), "frame").c_str(),
      count);
  std::printf(failed ? ", %ld failed\n" : "\n", failed);
  return failed ? kFailure : 0;
}

}  // namespace

int run(int argc, const char* const* argv) {
  return common::run_program("ravelTint-matte", [&] {
    Options options;
    if (const auto stop = parse_options(argc, argv, options)) return *stop;
    if (!options.frames) {
      process(options, 0);
      return 0;
    }
    return run_frames(options);
  });
}

}  // namespace matte
