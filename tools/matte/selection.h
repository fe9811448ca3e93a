// Which palette entries a compositor asks for: shell-style patterns matched
// against whole names, or a colour by its hex.
#pragma once

#include <string>
#include <vector>

#include "tools/matte/palette.h"

namespace matte {

// Whether `name` matches `pattern` whole: `*` any run of bytes, `?` one
// character, `[...]` one of a set (`[a-c]`, `[!x]`), `\` takes the next
// character as it is.
bool matches(const std::string& pattern, const std::string& name);

// The entries any pattern selects (a pattern "#rrggbb" selects by colour),
// each once, in palette order. A pattern that selects nothing is an error
// that names it and the nearest name (UsageFailure).
std::vector<std::uint32_t> select_entries(
    const Palette& palette, const std::vector<std::string>& patterns);

}  // namespace matte
