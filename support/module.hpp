// The loader of support/module.h for C++ programs: modules named by their
// base name beside the running program, as the tests, fuzz targets and
// benchmarks find the modules the build puts there.
#pragma once

#include <string>

#include "support/module.h"

namespace support {

// The folder of the running program.
std::string program_directory();

// `base` with the system's module suffix (.so or .dll), beside the program.
std::string module_path(const std::string& base);

// Loads the module `base` beside the program, privately; writes the reason
// to standard error and returns null when it cannot.
void* load_module(const std::string& base);

// For programs without a test framework: the module, or the process ends
// with the reason.
void* require_module(const std::string& base);

// The function `name` of `module`, or the process ends with the reason.
void* require_symbol(void* module, const char* name);

template <typename Function>
void require_function(void* module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(require_symbol(module, name));
}

template <typename T>
T* module_object(void* module, const char* name) {
  return static_cast<T*>(module_symbol(module, name));
}

}  // namespace support
