// The renderer functions that take a variable argument list, as the library's
// entries offer them. Every entry returns the renderer function's result
// unchanged, as a pointer-sized integer: whatever the function leaves in the
// integer result register (an int, a pointer or nothing) reaches the caller
// untouched, and callers that expect a narrower type read its low bits.
//
// 32-bit values are std::int32_t, 64-bit values std::intptr_t.
#pragma once

#include <cstdint>

extern "C" {

// Messages: `format` and its arguments in the printf conventions. The
// renderer receives the finished text (at most 1023 characters).
std::intptr_t mi_fatal(const char* format, ...);
std::intptr_t mi_nfatal(std::int32_t code, const char* format, ...);
std::intptr_t mi_error(const char* format, ...);
std::intptr_t mi_nerror(std::int32_t code, const char* format, ...);
std::intptr_t mi_warning(const char* format, ...);
std::intptr_t mi_nwarning(std::int32_t code, const char* format, ...);
std::intptr_t mi_info(const char* format, ...);
std::intptr_t mi_progress(const char* format, ...);
std::intptr_t mi_debug(const char* format, ...);
std::intptr_t mi_vdebug(const char* format, ...);

// Queries 15 and 152 read one 32-bit value after the fixed arguments, query
// 127 one 64-bit value; any other query reads none.
std::intptr_t mi_query(std::int32_t code, std::intptr_t second,
                       std::int32_t third, std::intptr_t fourth, ...);

// Type 40 reads a 64-bit value and eight 32-bit ones; type 51 three 32-bit
// values and a 64-bit one; any other type eight 32-bit values.
std::intptr_t mi_scene_create(std::intptr_t first, std::int32_t type, ...);
std::intptr_t mi_scene_recreate(std::int32_t first, std::int32_t type, ...);

// Always reads eight 32-bit values.
std::intptr_t mi_scene_growedit(std::int32_t first, ...);
}
