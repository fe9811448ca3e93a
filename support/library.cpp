#include "support/library.hpp"

#include "support/module.h"

namespace support {

namespace {

template <typename Function>
bool find(void* module, const char* name, Function*& function) {
  function = reinterpret_cast<Function*>(module_symbol(module, name));
  return function != nullptr;
}

}  // namespace

const char* find_exports(void* module, LibraryExports& exports) {
  if (!find(module, "ravelTint_version", exports.version))
    return "ravelTint_version";
  if (!find(module, "ravelTint", exports.shade)) return "ravelTint";
  if (!find(module, "miSetModuleHandle", exports.set_module_handle))
    return "miSetModuleHandle";
  return nullptr;
}

}  // namespace support
