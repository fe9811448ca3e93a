#include "tests/support/library.h"

#include <gtest/gtest.h>

#include "support/module.hpp"

namespace testing_support {

namespace {

Library load() {
  Library library{};
  void* module = support::load_module("ravelTint");
  if (!module) return library;
  const char* missing = support::find_exports(module, library);
  EXPECT_EQ(missing, nullptr) << "the library does not export " << missing;
  return library;
}

}  // namespace

const Library& library() {
  static const Library loaded = load();
  return loaded;
}

}  // namespace testing_support
