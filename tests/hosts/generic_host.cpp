// A host that exports every one of the 695 functions. Each answers with its
// module's number (HOST_ID) and its own slot, so a test can tell which module
// and which function a call reached.
#include <cstdint>

// Every function takes and gives one integer, the six renderer functions too.
#define RAVELTINT_RENDERER_MARKING_ONLY
#include "library/dynload/slot_ids.h"
#include "tests/hosts/export.h"

#define MI_ENTRY(name, kind)                      \
  HOST_EXPORT std::intptr_t name(std::intptr_t) { \
    return HOST_ID * 1000 + dynload::slot::name;  \
  }
#include "library/dynload/entries.def"
#undef MI_ENTRY
