/* The public headers as a C host includes them (C99, pedantic, warnings as
 * errors), with the three functions imported from the library itself. */
#include <stdio.h>

#include "ravelTint/ravelTint.h"
#include "ravelTint/renderer.h"

int main(void) {
  void (*set_module_handle)(void*) = miSetModuleHandle;
  int32_t (*shade)(void*, struct ravelTint_state*, void*) = ravelTint;
  int32_t (*version)(void) = ravelTint_version;
  if (!set_module_handle || !shade || version() != RAVELTINT_SHADER_VERSION) {
    fprintf(stderr, "the imported library is not this ravelTint version\n");
    return 1;
  }
  return 0;
}
