#include "tests/support/module.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace testing_support {

std::string program_directory() {
  char path[4096] = {};
#if defined(_WIN32)
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  std::string full(path);
  return full.substr(0, full.find_last_of("\\/"));
#else
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string full(path, n > 0 ? static_cast<size_t>(n) : 0);
  return full.substr(0, full.find_last_of('/'));
#endif
}

std::string module_path(const std::string& base) {
#if defined(_WIN32)
  return program_directory() + "\\" + base + ".dll";
#else
  return program_directory() + "/" + base + ".so";
#endif
}

namespace {

std::string load_error() {
#if defined(_WIN32)
  return "error " + std::to_string(GetLastError());
#else
  const char* error = dlerror();
  return error ? error : "";
#endif
}

}  // namespace

void* load_module(const std::string& base) {
  const std::string path = module_path(base);
#if defined(_WIN32)
  void* module = LoadLibraryA(path.c_str());
#else
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
  if (!module)
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(),
                 load_error().c_str());
  return module;
}

void* module_symbol(void* module, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(module), name));
#else
  return dlsym(module, name);
#endif
}

void* require_module(const std::string& base) {
  void* module = load_module(base);
  if (!module) std::abort();
  return module;
}

void* require_symbol(void* module, const char* name) {
  void* symbol = module_symbol(module, name);
  if (!symbol) {
    std::fprintf(stderr, "the module lacks %s\n", name);
    std::abort();
  }
  return symbol;
}

}  // namespace testing_support
