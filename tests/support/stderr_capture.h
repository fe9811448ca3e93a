// What a piece of code writes to standard error.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace testing_support {

template <typename Body>
std::string stderr_of(Body&& body) {
  testing::internal::CaptureStderr();
  body();
  std::fflush(stderr);
  return testing::internal::GetCapturedStderr();
}

}  // namespace testing_support
