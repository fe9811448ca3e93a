/* Loading modules and finding symbols, on each system. */
/* POSIX functions (readlink, O_CLOEXEC) under a strict C standard. */
#define _POSIX_C_SOURCE 200809L
#include "support/module.h"

#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#if defined(MODULE_GLIBC_FLOOR) && defined(__GLIBC__) && defined(__x86_64__)
/* For programs that must start on glibc 2.17: the oldest versions of the
 * dl* functions, which every glibc since then provides. */
__asm__(".symver dlopen, dlopen@GLIBC_2.2.5");
__asm__(".symver dlsym, dlsym@GLIBC_2.2.5");
__asm__(".symver dlerror, dlerror@GLIBC_2.2.5");
#endif

#if defined(_WIN32)

const char module_suffix[] = ".dll";
const char module_separator = '\\';

/* The system's own text for the last error, on one line. */
static void last_error_text(char* reason, size_t size) {
  const DWORD code = GetLastError();
  char text[MODULE_REASON_SIZE] = "";
  DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     NULL, code, 0, text, sizeof text, NULL);
  char* at;
  while (n > 0 && strchr("\r\n .", text[n - 1])) text[--n] = '\0';
  for (at = text; *at; ++at)
    if (*at == '\r' || *at == '\n') *at = ' ';
  if (n == 0)
    snprintf(reason, size, "system error %lu", (unsigned long)code);
  else
    snprintf(reason, size, "%s (system error %lu)", text, (unsigned long)code);
}

void* module_open(const char* path, char* reason, size_t size) {
  HMODULE module;
  if (!module_check_file(path, reason, size)) return NULL;
  module = LoadLibraryA(path);
  if (!module) last_error_text(reason, size);
  return (void*)module;
}

void* module_symbol(void* module, const char* name) {
  return (void*)GetProcAddress((HMODULE)module, name);
}

void* module_self(void) { return (void*)GetModuleHandleA(NULL); }

size_t module_program_directory(char* path, size_t size) {
  const DWORD n = GetModuleFileNameA(NULL, path, (DWORD)size);
  char* slash;
  if (n == 0 || n >= size) return 0;
  slash = strrchr(path, '\\');
  if (!slash) return 0;
  *slash = '\0';
  return (size_t)(slash - path);
}

#else

const char module_suffix[] = ".so";
const char module_separator = '/';

void* module_open(const char* path, char* reason, size_t size) {
  void* module;
  if (!module_check_file(path, reason, size)) return NULL;
  module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* error = dlerror();
    snprintf(reason, size, "%s", error ? error : "cannot be loaded");
  }
  return module;
}

void* module_symbol(void* module, const char* name) {
  return dlsym(module, name);
}

void* module_self(void) { return dlopen(NULL, RTLD_NOW); }

size_t module_program_directory(char* path, size_t size) {
  const ssize_t n = readlink("/proc/self/exe", path, size);
  char* slash;
  if (n <= 0 || (size_t)n >= size) return 0;
  path[n] = '\0';
  slash = strrchr(path, '/');
  if (!slash) return 0;
  *slash = '\0';
  return (size_t)(slash - path);
}

#endif
