#include "tools/refhost/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace refhost::platform {

#if defined(_WIN32)

std::string program_directory() {
  char path[MAX_PATH * 4] = {};
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  const std::string full(path);
  return full.substr(0, full.find_last_of("\\/"));
}

void* load(const std::string& path) { return LoadLibraryA(path.c_str()); }

std::string load_error() {
  return "system error " + std::to_string(GetLastError());
}

void* symbol(void* module, const char* name) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(module), name));
}

void* own_module() { return GetModuleHandleA(nullptr); }

std::string replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
    return "";
  return "system error " + std::to_string(GetLastError());
}

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

#else

std::string program_directory() {
  char path[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string full(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  return full.substr(0, full.find_last_of('/'));
}

void* load(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string load_error() {
  const char* error = dlerror();
  return error ? error : "unknown error";
}

void* symbol(void* module, const char* name) { return dlsym(module, name); }

void* own_module() { return dlopen(nullptr, RTLD_NOW); }

std::string replace_file(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return "";
  return std::strerror(errno);
}

bool stderr_is_terminal() { return isatty(fileno(stderr)) != 0; }

#endif

}  // namespace refhost::platform
