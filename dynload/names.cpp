// The host function names, indexed by slot, generated from the entry list.
#include "dynload/slots.h"

extern "C" const char* const dynload_names[DYNLOAD_SLOT_COUNT] = {
#define MI_ENTRY(slot, name, kind) #name,
#include "dynload/entries.def"
#undef MI_ENTRY
};

namespace {

// The list must number its rows 0, 1, 2, ... without a gap, so that a row's
// slot is also its position in every generated table.
constexpr unsigned kListedSlots[] = {
#define MI_ENTRY(slot, name, kind) slot,
#include "dynload/entries.def"
#undef MI_ENTRY
};

constexpr bool slots_are_consecutive() {
  for (unsigned i = 0; i < sizeof kListedSlots / sizeof kListedSlots[0]; ++i)
    if (kListedSlots[i] != i) return false;
  return true;
}

static_assert(sizeof kListedSlots / sizeof kListedSlots[0] ==
                  DYNLOAD_SLOT_COUNT,
              "the entry list and the slot table differ in size");
static_assert(slots_are_consecutive(), "the entry list is out of slot order");

}  // namespace
