// The renderer functions that take a variable argument list, as the library's
// entries offer them. Every entry returns the renderer function's result
// unchanged, as a pointer-sized integer: whatever the function leaves in the
// integer result register (an int, a pointer or nothing) reaches the caller
// untouched, and callers that expect a narrower type read its low bits.
//
// 32-bit values are std::int32_t, 64-bit values std::intptr_t.
#pragma once

#include <cstdint>

namespace host {

// The selectors of the query and scene entries: the values that decide what
// their variable part holds.
enum QueryCode : std::int32_t {
  kQueryInt32First = 15,    // one 32-bit value follows
  kQueryInt32Second = 152,  // one 32-bit value follows
  kQueryInt64 = 127,        // one 64-bit value follows
};                          // any other code: nothing follows

enum SceneType : std::int32_t {
  kSceneWideThenEight = 40,  // a 64-bit value, then eight 32-bit ones
  kSceneThreeThenWide = 51,  // three 32-bit values, then a 64-bit one
};                           // any other type: eight 32-bit values

}  // namespace host

extern "C" {

// Messages (the MESSAGE and CODED_MESSAGE rows of the entry list): `format`
// and its arguments in the printf conventions, after a code for the coded
// ones. The renderer receives the finished text (at most 1023 characters).
#define MI_ENTRY(name, kind) MI_DECLARE_##kind(name)
#define MI_DECLARE_PLAIN(name)
#define MI_DECLARE_VARARGS(name)
#define MI_DECLARE_MESSAGE(name) std::intptr_t name(const char* format, ...);
#define MI_DECLARE_CODED_MESSAGE(name) \
  std::intptr_t name(std::int32_t code, const char* format, ...);
#include "library/dynload/entries.def"
#undef MI_ENTRY
#undef MI_DECLARE_PLAIN
#undef MI_DECLARE_VARARGS
#undef MI_DECLARE_MESSAGE
#undef MI_DECLARE_CODED_MESSAGE

// Reads what the QueryCode says after the fixed arguments.
std::intptr_t mi_query(std::int32_t code, std::intptr_t second,
                       std::int32_t third, std::intptr_t fourth, ...);

// Read what the SceneType says.
std::intptr_t mi_scene_create(std::intptr_t first, std::int32_t type, ...);
std::intptr_t mi_scene_recreate(std::int32_t first, std::int32_t type, ...);

// Always reads eight 32-bit values.
std::intptr_t mi_scene_growedit(std::int32_t first, ...);
}
