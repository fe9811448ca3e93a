// The module handle, the slot table and the lazy resolution of host entries.
#include <cstdint>
#include <cstdio>

#include "library/dynload/platform.h"
#include "library/dynload/slots.h"
#include "ravelTint/ravelTint.h"

static_assert(sizeof(std::atomic<void*>) == sizeof(void*),
              "the entries read a slot as one plain pointer");
static_assert(std::atomic<void*>::is_always_lock_free,
              "a slot must be read and written whole, without a lock");

namespace {

// The line is finished before it is written, and written with one call, so
// that lines of several threads, or of the renderer's own C runtime, never
// mix inside a line.
void report_lookup_failure(const char* name, void* handle, int error) {
  char line[192];
  std::snprintf(line, sizeof line,
                "dlsym failed on \"%s\" (handle: %08x error: %d)\n", name,
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle)),
                error);
  std::fputs(line, stderr);
}

}  // namespace

extern "C" {

std::atomic<void*> dynload_slots[DYNLOAD_SLOT_COUNT];
std::atomic<void*> dl_handle;

void* dynload_resolve(unsigned slot) {
  // Another thread may have resolved the slot since the entry looked.
  if (void* fn = dynload_slots[slot].load(std::memory_order_relaxed)) return fn;

  const char* name = dynload_names[slot];
  void* handle = dl_handle.load(std::memory_order_relaxed);
  if (!handle) {
    // No module, no lookup: the system would read a null module as "the
    // whole process" (glibc) or "the main program" (Windows) and bind
    // whatever happens to be exported under the name, another shader
    // library's entries included. It is reported as the failed lookup it is.
    std::fputs("DYNLOAD: dl_handle null\n", stderr);
    report_lookup_failure(name, handle, dynload::kProcedureNotFound);
    return nullptr;
  }
  void* fn = dynload::platform_lookup(handle, name);
  if (fn) {
    dynload_slots[slot].store(fn, std::memory_order_relaxed);
    return fn;
  }
  // A failure is never cached: the next call looks the name up again.
  report_lookup_failure(name, handle, dynload::platform_last_error());
  return nullptr;
}

RAVELTINT_API void miSetModuleHandle(void* handle) {
  dl_handle.store(handle, std::memory_order_relaxed);
  for (auto& slot : dynload_slots)
    slot.store(nullptr, std::memory_order_relaxed);
}

}  // extern "C"
