// The renderer functions that the shader calls, with the signatures it relies
// on. They are the library's own entries (see dynload/), which forward to the
// renderer's functions of the same names.
#pragma once

#include <cstdint>

#include "host/records.h"

extern "C" {
// The address of the evaluated value of a connected parameter.
void* mi_phen_eval(host::State* state, void* parameter);
// Pins a database element and returns its record.
void* mi_db_access(host::Tag tag);
// Releases a pin taken by mi_db_access.
void mi_db_unpin(host::Tag tag);
// The element's name, zero-terminated, or null.
char* mi_api_tag_lookup(host::Tag tag);
// Seeds the renderer's random generator.
void mi_srandom(std::int32_t seed);
// The next number of the renderer's random generator.
float mi_random(void);
}
