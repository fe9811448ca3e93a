// ravelTint-matte: mattes and Cryptomatte from a flat object-ID image.
#pragma once

#include <string>
#include <vector>

namespace matte {

struct Options {
  std::string image;     // may hold a run of '#', a frame's number
  std::string manifest;  // empty: the image's own, or found in its pixels
  std::vector<std::string> select;
  std::string out, cryptomatte, unexplained;  // each may hold a '#' run
  bool frames = false;
  long first_frame = 0, last_frame = 0;
  int threads = 0;  // 0: every core
  int ranks = 6;
};

// Runs the matte tool with a command line; returns its exit status: 0, 1
// where an input or an output failed (with frames: any frame), 2 for a
// mistake on the command line.
int run(int argc, const char* const* argv);

}  // namespace matte
