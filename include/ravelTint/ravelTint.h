// The library's exports, as a renderer calls them.
#pragma once

#include <cstdint>

#include "ravelTint/exports.h"

namespace host {
struct State;
}

extern "C" {

// Hands the renderer's own module to the library, which looks every renderer
// function up in it by name on first use. Call it before anything else.
RAVELTINT_EXPORT void miSetModuleHandle(void* handle);

// The shader: writes the object-ID colour of the sample that `state` describes
// to `result` (red, green, blue, alpha). `params` is the shader's parameter
// block. Returns 1.
RAVELTINT_EXPORT std::int32_t ravelTint(void* result, host::State* state,
                                        void* params);

// The shader's version, 2.
RAVELTINT_EXPORT std::int32_t ravelTint_version(void);
}
