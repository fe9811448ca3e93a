// Looking at the library's slot table from a test.
#pragma once

#include <cstring>

#include "dynload/slots.h"

namespace testing_support {

// The slot of a host function, by name; DYNLOAD_SLOT_COUNT if there is none.
inline unsigned slot_of(const char* name) {
  unsigned slot = 0;
  while (slot < DYNLOAD_SLOT_COUNT && std::strcmp(dynload_names[slot], name))
    ++slot;
  return slot;
}

// How many slots hold an address.
inline unsigned filled_slots() {
  unsigned filled = 0;
  for (const auto& slot : dynload_slots) filled += slot.load() != nullptr;
  return filled;
}

}  // namespace testing_support
