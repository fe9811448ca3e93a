// The reference host's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace refhost {

struct Options {
  std::string scene_path;    // empty: the built-in scene
  std::string names_path;    // given: plan seeds for these names alone
  bool separate = false;     // with names: give shared ones seeds of their own
  std::string library_path;  // empty: beside this program
  std::string out = "objectid.png";
  std::string manifest = "objectid.json";
  std::string exr;  // empty: no EXR image
  // Empty: no Cryptomatte; else an EXR with the float image and `ranks`
  // ranks of every object's coverage.
  std::string cryptomatte;
  int ranks = 6;
  std::optional<std::int32_t> seed;
  std::optional<bool> grayscale;  // given: overrides the scene's
  std::optional<std::pair<int, int>> size;
  int samples = 3;
  int threads = 0;       // 0: every core
  int search = 0;        // seeds to try; 0: no search
  double close = 2.0;    // colours closer than this (CIEDE2000) are reported
  bool version = false;  // print the versions and stop
};

// Parses the command line. Returns the exit status when the program should
// stop at once (after --help, or a bad option, which it reports).
std::optional<int> parse_options(int argc, const char* const* argv,
                                 Options& options);

}  // namespace refhost
