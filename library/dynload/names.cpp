// The host function names, indexed by slot, generated from the entry list.
#include "library/dynload/slots.h"

extern "C" const char* const dynload_names[DYNLOAD_SLOT_COUNT] = {
#define MI_ENTRY(name, kind) #name,
#include "library/dynload/entries.def"
#undef MI_ENTRY
};
