/* The binding state shared by the entries, the resolver and miSetModuleHandle.
 * The assembly entries reach the table by its unmangled name. */
#ifndef RAVELTINT_DYNLOAD_SLOTS_H
#define RAVELTINT_DYNLOAD_SLOTS_H

#include <atomic>
#include <cstdint>
/* One slot per row of entries.def, counted from the list itself. */
enum : unsigned {
  DYNLOAD_SLOT_COUNT = 0
#define MI_ENTRY(name, kind) +1
#include "library/dynload/entries.def"
#undef MI_ENTRY
};

extern "C" {
/* Each slot holds null (unresolved, or the last lookup failed) or the host
 * function's address. Slots are read and written whole, never under a lock. */
extern std::atomic<void*> dynload_slots[DYNLOAD_SLOT_COUNT];
/* The host module handed over by miSetModuleHandle; null until then. */
extern std::atomic<void*> dl_handle;
/* The looked-up names, indexed by slot. */
extern const char* const dynload_names[DYNLOAD_SLOT_COUNT];
/* Looks the slot's name up in the host module, caches a found address in the
 * slot and reports a failure on standard error. Returns the address or null. */
void* dynload_resolve(unsigned slot);
}

/* The host function of a slot: the cached address, resolved on first use. */
inline void* dynload_function(unsigned slot) {
  void* fn = dynload_slots[slot].load(std::memory_order_relaxed);
  return fn ? fn : dynload_resolve(slot);
}
#endif
