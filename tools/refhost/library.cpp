#include "tools/refhost/library.h"

#include <filesystem>

#include "support/module.hpp"
#include "tools/common/errors.h"
#include "tools/common/quoting.h"

namespace refhost {

using common::Failure;
using common::quote;

std::string default_library_path() {
  const std::string file = std::string("ravelTint") + module_suffix;
  const std::string here = support::program_directory();
  const char separator = module_separator;
  const std::string beside = here + separator + file;
  // An installed tree keeps the Linux library in lib/, beside bin/.
  const std::string installed =
      here + separator + ".." + separator + "lib" + separator + file;
  char reason[MODULE_REASON_SIZE];
  if (!module_check_file(beside.c_str(), reason, sizeof reason) &&
      module_check_file(installed.c_str(), reason, sizeof reason))
    return installed;
  return beside;
}

Library open_library(const std::string& path) {
  // A bare file name means the one in the current folder, as a person expects;
  // the system's loader would search its own folders for it instead.
  const std::string absolute = std::filesystem::absolute(path).string();
  char reason[MODULE_REASON_SIZE];
  void* module = module_open(absolute.c_str(), reason, sizeof reason);
  if (!module)
    throw Failure("cannot load the library " + quote(path) + ": " + reason);
  Library library;
  if (const char* missing = support::find_exports(module, library))
    throw Failure(quote(path) + ": not a ravelTint library (no " + missing +
                  ")");
  library.shader_version = library.version();
  return library;
}

Library load_library(const std::string& path) {
  Library library = open_library(path);
  if (library.shader_version != kShaderVersion)
    throw Failure(quote(path) + ": shader version " +
                  std::to_string(library.shader_version) +
                  ", but this host needs version " +
                  std::to_string(kShaderVersion));
  library.set_module_handle(module_self());
  return library;
}

}  // namespace refhost
