/* The smallest host: loads the library the package names and asks its
 * version through the header's declarations. */
#include <stdio.h>

#include "ravelTint/ravelTint.h"

#if defined(_WIN32)
#include <windows.h>
#define load(path) ((void*)LoadLibraryA(path))
#define symbol(module, name) ((void*)GetProcAddress((HMODULE)(module), name))
#else
#include <dlfcn.h>
#define load(path) dlopen(path, RTLD_NOW | RTLD_LOCAL)
#define symbol(module, name) dlsym(module, name)
#endif

typedef int32_t (*Version)(void);
typedef int32_t (*Shade)(void*, struct ravelTint_state*, void*);

int main(void) {
  void* library = load(RAVELTINT_LIBRARY);
  Version version;
  if (!library) {
    fprintf(stderr, "consumer: cannot load %s\n", RAVELTINT_LIBRARY);
    return 1;
  }
  version = (Version)symbol(library, "ravelTint_version");
  if (!version || !(Shade)symbol(library, "ravelTint") ||
      !symbol(library, "miSetModuleHandle") ||
      version() != RAVELTINT_SHADER_VERSION) {
    fprintf(stderr, "consumer: %s is not ravelTint version %d\n",
            RAVELTINT_LIBRARY, RAVELTINT_SHADER_VERSION);
    return 1;
  }
  printf("consumer: %s: shader version %d\n", RAVELTINT_LIBRARY,
         (int)version());
  return 0;
}
