// Every error the reference host reports: one line, then a non-zero exit.
#pragma once

#include <stdexcept>
#include <string>

namespace refhost {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace refhost
