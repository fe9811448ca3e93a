// The library as a renderer sees it: loaded by path, its three exports found
// by name.
#pragma once

#include <cstdint>

#include "host/records.h"

namespace testing_support {

struct Library {
  void (*set_module_handle)(void*);
  std::int32_t (*shade)(void* result, host::State* state, void* params);
  std::int32_t (*version)();
};

// Loads ravelTint.so or ravelTint.dll from beside the program (once) and
// finds its exports; fails the calling test when it cannot.
const Library& library();

}  // namespace testing_support
