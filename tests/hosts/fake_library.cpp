// A module that looks like the shader library but reports another version.
#include <cstdint>

#include "tests/hosts/export.h"

HOST_EXPORT std::int32_t ravelTint_version() {
  return RAVELTINT_SHADER_VERSION + 1;
}
HOST_EXPORT std::int32_t ravelTint(void*, void*, void*) { return 1; }
HOST_EXPORT void miSetModuleHandle(void*) {}
