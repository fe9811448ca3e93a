#include "support/module.hpp"

#include <cstdio>
#include <cstdlib>

namespace support {

std::string program_directory() {
  char folder[4096];
  return module_program_directory(folder, sizeof folder) ? folder : ".";
}

std::string module_path(const std::string& base) {
  return program_directory() + module_separator + base + module_suffix;
}

void* load_module(const std::string& base) {
  const std::string path = module_path(base);
  char reason[MODULE_REASON_SIZE];
  void* module = module_open(path.c_str(), reason, sizeof reason);
  if (!module)
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), reason);
  return module;
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

}  // namespace support
