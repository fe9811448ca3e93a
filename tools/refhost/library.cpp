#include "tools/refhost/library.h"

#include <filesystem>
#include <fstream>

#include "tools/refhost/failure.h"
#include "tools/refhost/platform.h"

namespace refhost {

namespace {

template <typename Function>
void find(void* module, const std::string& path, const char* name,
          Function*& function) {
  function = reinterpret_cast<Function*>(platform::symbol(module, name));
  if (!function)
    throw Failure(path + ": not a ravelTint library (no " + name + ")");
}

}  // namespace

std::string default_library_path() {
  const std::string file = std::string("ravelTint") + platform::kModuleSuffix;
  const std::string here = platform::program_directory();
  const std::string beside = here + platform::kPathSeparator + file;
  // An installed tree keeps the Linux library in lib/, beside bin/.
  const std::string installed = here + platform::kPathSeparator + ".." +
                                platform::kPathSeparator + "lib" +
                                platform::kPathSeparator + file;
  if (!std::ifstream(beside) && std::ifstream(installed)) return installed;
  return beside;
}

Library load_library(const std::string& path) {
  // A bare file name means the one in the current folder, as a person expects;
  // the system's loader would search its own folders for it instead.
  const std::string absolute = std::filesystem::absolute(path).string();
  void* module = platform::load(absolute);
  if (!module)
    throw Failure("cannot load the library " + path + ": " +
                  platform::load_error());
  Library library;
  find(module, path, "ravelTint_version", library.version);
  find(module, path, "ravelTint", library.shade);
  find(module, path, "miSetModuleHandle", library.set_module_handle);
  const std::int32_t version = library.version();
  if (version != kShaderVersion)
    throw Failure(path + ": shader version " + std::to_string(version) +
                  ", but this host needs version " +
                  std::to_string(kShaderVersion));
  library.set_module_handle(platform::own_module());
  return library;
}

}  // namespace refhost
