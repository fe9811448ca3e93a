// Slot numbers by name, for the entries written in C++.
#pragma once

namespace dynload::slot {

enum : unsigned {
#define MI_ENTRY(slot, name, kind) name = slot,
#include "dynload/entries.def"
#undef MI_ENTRY
};

}  // namespace dynload::slot
