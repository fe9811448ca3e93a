// The steps of the shader, each a small function of its own.
#pragma once

#include <cstdint>

#include "host/records.h"

namespace shader {

// A parameter's value: the stored one, or the evaluated one when the
// parameter is connected.
std::int32_t parameter_value(host::State* state, std::int32_t* parameter);

// The name of the element that `instance` refers to, or null when it has none.
// The instance is pinned only while its record is read.
const char* element_name(host::Tag instance);

// The colour of a name (null: no name) for the shader's parameters.
host::Colour derive_colour(const char* name, std::int32_t seed,
                           host::Boolean grayscale);

void write_colour(void* result, const host::Colour& colour);

}  // namespace shader
