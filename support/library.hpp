// The shader library as a renderer sees it: its three exports, found by name
// in the loaded module. The reference host and the tests use it alike.
#pragma once

#include <cstdint>

#include "ravelTint/ravelTint.h"

namespace support {

struct LibraryExports {
  void (*set_module_handle)(void*) = nullptr;
  std::int32_t (*shade)(void* result, ravelTint_state* state,
                        void* params) = nullptr;
  std::int32_t (*version)() = nullptr;
};

// Finds the three exports in `module`. Returns the name of the first that is
// missing, or null when all are there.
const char* find_exports(void* module, LibraryExports& exports);

}  // namespace support
