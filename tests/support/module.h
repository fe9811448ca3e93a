// Loading modules as a renderer does, and finding things in them by name.
#pragma once

#include <string>

namespace testing_support {

// The directory of the running program, where the build puts every module.
std::string program_directory();

// `base` with the platform's module suffix (.so or .dll), beside the program.
std::string module_path(const std::string& base);

// Loads a module privately (its names are not added to the process's global
// scope); fails the calling test and returns null when it cannot.
void* load_module(const std::string& base);

void* module_symbol(void* module, const char* name);

template <typename T>
T* module_object(void* module, const char* name) {
  return static_cast<T*>(module_symbol(module, name));
}

}  // namespace testing_support
