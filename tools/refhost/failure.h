// Every error the reference host reports: one line, then a non-zero exit.
#pragma once

#include <stdexcept>
#include <string>

namespace refhost {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A failure that the command line alone causes (exit status 2).
struct UsageFailure : Failure {
  using Failure::Failure;
};

}  // namespace refhost
