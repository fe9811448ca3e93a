#include <windows.h>

#include "library/dynload/platform.h"

namespace dynload {

void* platform_lookup(void* module, const char* name) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(module), name));
}

int platform_last_error() { return static_cast<int>(GetLastError()); }

}  // namespace dynload
