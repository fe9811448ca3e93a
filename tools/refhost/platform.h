// What differs between Linux and Windows for the reference host.
#pragma once

#include <string>

namespace refhost::platform {

#if defined(_WIN32)
constexpr const char* kModuleSuffix = ".dll";
constexpr char kPathSeparator = '\\';
#else
constexpr const char* kModuleSuffix = ".so";
constexpr char kPathSeparator = '/';
#endif

std::string program_directory();

void* load(const std::string& path);
std::string load_error();
void* symbol(void* module, const char* name);
// The handle of this program's own module, whose exports the library uses.
void* own_module();

// Moves `from` over `to`, replacing it. Returns the reason of a failure, or
// nothing.
std::string replace_file(const std::string& from, const std::string& to);

bool stderr_is_terminal();

// This process's number, which names its temporary files.
unsigned long process_id();

}  // namespace refhost::platform
