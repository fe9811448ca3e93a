// The library as a renderer sees it: loaded by path, its three exports found
// by name.
#pragma once

#include "support/library.hpp"

namespace testing_support {

using Library = support::LibraryExports;

// Loads ravelTint.so or ravelTint.dll from beside the program (once) and
// finds its exports; fails the calling test when it cannot.
const Library& library();

}  // namespace testing_support
