// The matte tool's command line: what it is asked to read and write.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace matte {

struct Options {
  std::string image;  // may hold a run of '#', a frame's number
  std::string layer;  // the EXR layer of the ID image; empty: the one
  // Manifests, colour records or folders of them; none: the image's own
  // manifest, or colours found in its pixels.
  std::vector<std::string> manifests;
  std::vector<std::string> select;
  // Each may hold a '#' run.
  std::string out, cryptomatte, unexplained, inferred;
  bool frames = false;
  long first_frame = 0, last_frame = 0;
  int threads = 0;  // 0: every core
  int ranks = 6;
};

// Reads the command line into `options`; an exit status where the program
// is done (--help, --version, a mistake), nothing where it goes on.
std::optional<int> parse_options(int argc, const char* const* argv,
                                 Options& options);

// Whether a path holds a run of '#' for a frame's number.
bool has_frame_number(const std::string& path);

}  // namespace matte
