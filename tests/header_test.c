/* The public header as a C host includes it (C99, pedantic, warnings as
 * errors), with the three functions imported from the library itself. */
#include <stdio.h>

#include "ravelTint/ravelTint.h"

int main(void) {
  void (*set_module_handle)(void*) = miSetModuleHandle;
  int32_t (*shade)(void*, struct ravelTint_state*, void*) = ravelTint;
  int32_t (*version)(void) = ravelTint_version;
  if (!set_module_handle || !shade || version() != 2) {
    fprintf(stderr, "the imported library is not ravelTint version 2\n");
    return 1;
  }
  return 0;
}
