// Loading modules as a renderer does, and finding things in them by name: the
// one wrapper that tests, fuzz targets and benchmarks share. It needs no test
// framework.
#pragma once

#include <string>

namespace testing_support {

// The directory of the running program, where the build puts every module.
std::string program_directory();

// `base` with the platform's module suffix (.so or .dll), beside the program.
std::string module_path(const std::string& base);

// Loads a module privately (its names are not added to the process's global
// scope); writes the reason to standard error and returns null when it
// cannot.
void* load_module(const std::string& base);

void* module_symbol(void* module, const char* name);

template <typename T>
T* module_object(void* module, const char* name) {
  return static_cast<T*>(module_symbol(module, name));
}

// For programs without a test framework: the module, or the process ends
// with the reason.
void* require_module(const std::string& base);

// The function `name` of `module`, or the process ends with the reason.
void* require_symbol(void* module, const char* name);

template <typename Function>
void require_function(void* module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(require_symbol(module, name));
}

}  // namespace testing_support
