// Slot numbers by name, for the entries written in C++: a row's slot is its
// position in the entry list, as in the assembly entries.
#pragma once

namespace dynload::slot {

enum : unsigned {
#define MI_ENTRY(name, kind) name,
#include "library/dynload/entries.def"
#undef MI_ENTRY
};

}  // namespace dynload::slot
