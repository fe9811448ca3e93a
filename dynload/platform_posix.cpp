// dlsym has no numeric error code of its own, so a failed lookup always
// reports 127, the code Windows gives for a procedure that is not found.
// Integrators see the same number on both systems.
#include <dlfcn.h>

#include "dynload/platform.h"

namespace dynload {

namespace {
constexpr int kSymbolNotFound = 127;
}

void* platform_lookup(void* module, const char* name) {
  return dlsym(module, name);
}

int platform_last_error() {
  // Consume dlsym's pending message, so that a renderer asking dlerror()
  // later is not handed the library's failure as its own.
  dlerror();
  return kSymbolNotFound;
}

}  // namespace dynload
