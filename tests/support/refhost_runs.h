// The reference host run in this process, as the tests of its suites run
// it: it loads the real library by path and hands it the test program's own
// module, which exports the six renderer functions just as the refhost
// executable does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/module.hpp"
#include "tests/support/stderr_capture.h"
#include "tools/common/commit.h"
#include "tools/common/platform.h"
#include "tools/refhost/run.h"

namespace refhost_runs {

using nlohmann::json;
using support::module_path;
using support::program_directory;
using testing_support::Outcome;

// A file the build puts beside the test program.
inline std::string data_file(const std::string& name) {
  return program_directory() + "/" + name;
}

inline std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline bool exists(const std::string& path) {
  return static_cast<bool>(std::ifstream(path, std::ios::binary));
}

// Runs the reference host with `args` after the program name.
inline Outcome run(std::vector<std::string> args) {
  return testing_support::run_captured(refhost::run, "refhost",
                                       std::move(args));
}

// A render of the small scene into files named after `stem`.
inline Outcome render_small(const std::string& stem,
                            std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--scene",    data_file("small_scene.json"),
                                   "--samples",  "2",
                                   "--out",      stem + ".png",
                                   "--manifest", stem + ".json"};
  args.insert(args.end(), extra.begin(), extra.end());
  return run(args);
}

}  // namespace refhost_runs
