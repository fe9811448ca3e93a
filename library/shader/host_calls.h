// How the shader calls the renderer: through each function's entry, with the
// entry's fast path inlined. The shader runs on every sample and makes up to
// eleven renderer calls a sample (two evaluations, the pin, the lookup, the
// unpin and three seed-and-draw pairs), so the hop through the entry (a call
// and a jump where one call does) is worth saving.
#pragma once

#include <atomic>

#include "library/dynload/slot_ids.h"
#include "library/dynload/slots.h"

namespace shader {

// The function to call for an entry: the renderer's own once the slot holds
// it, exactly where the entry would jump; until then the entry itself, which
// looks the function up, reports a failure and forwards or returns zero as
// on any call. The renderer sees the same calls either way.
template <typename Function>
inline Function* via_entry(unsigned slot, Function* entry) {
  void* resolved = dynload_slots[slot].load(std::memory_order_relaxed);
  return resolved ? reinterpret_cast<Function*>(resolved) : entry;
}

}  // namespace shader

#define RAVELTINT_HOST_CALL(name) \
  (::shader::via_entry(::dynload::slot::name, &::name))
