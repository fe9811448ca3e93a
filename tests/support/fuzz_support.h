// What the fuzz targets need to load a test host beside themselves.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_support {

inline void* load_beside_program(const std::string& base) {
  char path[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string full(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  full = full.substr(0, full.find_last_of('/')) + "/" + base + ".so";
  void* module = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "cannot load %s: %s\n", full.c_str(), dlerror());
    std::abort();
  }
  return module;
}

template <typename Function>
Function symbol(void* module, const char* name) {
  auto function = reinterpret_cast<Function>(dlsym(module, name));
  if (!function) {
    std::fprintf(stderr, "the host lacks %s\n", name);
    std::abort();
  }
  return function;
}

}  // namespace fuzz_support
