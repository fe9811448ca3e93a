// What a piece of code writes to standard error, or a program run in this
// process to both of its streams.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

template <typename Body>
std::string stderr_of(Body&& body) {
  testing::internal::CaptureStderr();
  body();
  std::fflush(stderr);
  return testing::internal::GetCapturedStderr();
}

struct Outcome {
  int status;
  std::string out, err;
};

// Runs `program` (a program's `run(argc, argv)`) with `args` after the
// program's name.
template <typename Program>
Outcome run_captured(Program program, const char* name,
                     std::vector<std::string> args) {
  args.insert(args.begin(), name);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = program(static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  return {status, testing::internal::GetCapturedStdout(),
          testing::internal::GetCapturedStderr()};
}

}  // namespace testing_support
