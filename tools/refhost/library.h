// The shader library, loaded by path as a renderer loads it.
#pragma once

#include <cstdint>
#include <string>

#include "library/shader/records.h"
#include "library/shader/version.h"
#include "support/library.hpp"

namespace refhost {

struct Library : support::LibraryExports {
  std::int32_t shader_version = 0;
};

constexpr std::int32_t kShaderVersion = RAVELTINT_SHADER_VERSION;

// ravelTint.so or ravelTint.dll beside this program.
std::string default_library_path();

// Loads the library (after checking that its file is a whole library for
// this machine) and asks its version. Throws refhost::Failure with a one-line
// reason.
Library open_library(const std::string& path);

// Opens the library, checks its version and hands it this program's module.
Library load_library(const std::string& path);

}  // namespace refhost
