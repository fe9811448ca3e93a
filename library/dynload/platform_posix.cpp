// dlsym has no numeric error code of its own, so a failed lookup always
// reports kProcedureNotFound: integrators see the same number on both systems.
#include <dlfcn.h>

#include "library/dynload/platform.h"

// Render farms run glibc as old as 2.17, where dlsym and dlerror live in
// libdl.so.2 under the version GLIBC_2.2.5. glibc 2.34 moved them into libc
// under a new version and kept the old one for existing programs, so binding
// to the old version loads on every glibc from 2.17 on.
#if defined(__GLIBC__) && defined(__x86_64__)
__asm__(".symver dlsym, dlsym@GLIBC_2.2.5");
__asm__(".symver dlerror, dlerror@GLIBC_2.2.5");
#endif

namespace dynload {

void* platform_lookup(void* module, const char* name) {
  return dlsym(module, name);
}

int platform_last_error() {
  // Consume dlsym's pending message, so that a renderer asking dlerror()
  // later is not handed the library's failure as its own.
  dlerror();
  return kProcedureNotFound;
}

}  // namespace dynload
