#include "tests/support/library.h"

#include <gtest/gtest.h>

#include "tests/support/module.h"

namespace testing_support {

namespace {

template <typename Function>
void find(void* module, const char* name, Function*& function) {
  function = reinterpret_cast<Function*>(module_symbol(module, name));
  EXPECT_NE(function, nullptr) << "the library does not export " << name;
}

Library load() {
  Library library{};
  void* module = load_module("ravelTint");
  if (!module) return library;
  find(module, "miSetModuleHandle", library.set_module_handle);
  find(module, "ravelTint", library.shade);
  find(module, "ravelTint_version", library.version);
  return library;
}

}  // namespace

const Library& library() {
  static const Library loaded = load();
  return loaded;
}

}  // namespace testing_support
