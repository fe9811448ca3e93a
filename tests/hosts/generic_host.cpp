// A host that exports every one of the 695 functions. Each answers with its
// module's number (HOST_ID) and its own slot, so a test can tell which module
// and which function a call reached.
#include <cstdint>

#include "tests/hosts/export.h"

#define MI_ENTRY(slot, name, kind)                \
  HOST_EXPORT std::intptr_t name(std::intptr_t) { \
    return HOST_ID * 1000 + slot;                 \
  }
#include "dynload/entries.def"
#undef MI_ENTRY
