// Every plain entry of the library, declared with one integer argument and an
// integer result: the shape that the generic test host gives all its
// functions. The entries forward whatever they are given, so any shape works.
#pragma once

#include <cstdint>

#include "library/dynload/slot_ids.h"

#define MI_ENTRY(name, kind) MI_ENTRY_##kind(name)
#define MI_ENTRY_PLAIN(name) extern "C" std::intptr_t name(std::intptr_t);
#define MI_ENTRY_MESSAGE(name)
#define MI_ENTRY_CODED_MESSAGE(name)
#define MI_ENTRY_VARARGS(name)
#include "library/dynload/entries.def"
#undef MI_ENTRY_PLAIN

namespace testing_support {

using GenericEntry = std::intptr_t (*)(std::intptr_t);

struct PlainEntry {
  unsigned slot;
  const char* name;
  GenericEntry call;
};

inline constexpr PlainEntry kPlainEntries[] = {
#define MI_ENTRY_PLAIN(name) {dynload::slot::name, #name, &name},
#include "library/dynload/entries.def"
#undef MI_ENTRY_PLAIN
};

}  // namespace testing_support

#undef MI_ENTRY
#undef MI_ENTRY_MESSAGE
#undef MI_ENTRY_CODED_MESSAGE
#undef MI_ENTRY_VARARGS
