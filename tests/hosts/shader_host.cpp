// The recording host of the shader tests (see shader_host.h). Built once
// whole, and once without each of the six functions (OMIT_FUNCTION).
#include "tests/hosts/shader_host.h"

#include <atomic>

#include "support/host_generator.h"
#include "tests/hosts/export.h"

#ifndef OMIT_FUNCTION
#define OMIT_FUNCTION -1
#endif

using namespace shader_host;

namespace {

struct Element {
  host::Tag tag;
  const void* record;
  const char* name;
};

Element database[16];
int elements;
const std::int32_t* evaluated;
std::atomic<int> pins;

// Each thread has its own generator and log, as a renderer keeps them.
thread_local std::uint32_t generator;
thread_local CallLog log;

void note(Function function, std::int64_t argument) {
  if (log.count < 64) log.calls[log.count++] = {function, argument};
}

const Element* find(host::Tag tag) {
  for (int i = 0; i < elements; ++i)
    if (database[i].tag == tag) return &database[i];
  return nullptr;
}

}  // namespace

HOST_EXPORT void shader_host_reset() {
  elements = 0;
  evaluated = nullptr;
  log.count = 0;
  pins = 0;
}

HOST_EXPORT void shader_host_put(host::Tag tag, const void* record,
                                 const char* name) {
  database[elements++] = {tag, record, name};
}

HOST_EXPORT void shader_host_set_evaluated(const std::int32_t* value) {
  evaluated = value;
}

HOST_EXPORT CallLog* shader_host_calls() { return &log; }

HOST_EXPORT int shader_host_pins() { return pins; }

#if OMIT_FUNCTION != 0
HOST_EXPORT void* mi_phen_eval(host::State*, void* parameter) {
  note(kPhenEval, reinterpret_cast<std::intptr_t>(parameter));
  return const_cast<std::int32_t*>(evaluated);
}
#endif

#if OMIT_FUNCTION != 1
HOST_EXPORT void* mi_db_access(host::Tag tag) {
  note(kDbAccess, tag);
  const Element* element = find(tag);
  if (!element) return nullptr;
  ++pins;
  return const_cast<void*>(element->record);
}
#endif

#if OMIT_FUNCTION != 2
HOST_EXPORT void mi_db_unpin(host::Tag tag) {
  note(kDbUnpin, tag);
  --pins;  // as a renderer that counts pins: an unpin without a pin shows
}
#endif

#if OMIT_FUNCTION != 3
// The renderer hands out its names as char*, though callers must not write.
HOST_EXPORT char* mi_api_tag_lookup(host::Tag tag) {
  note(kTagLookup, tag);
  const Element* element = find(tag);
  return element ? const_cast<char*>(element->name) : nullptr;
}
#endif

#if OMIT_FUNCTION != 4
HOST_EXPORT void mi_srandom(std::int32_t seed) {
  note(kSrandom, seed);
  generator = static_cast<std::uint32_t>(seed);
}
#endif

#if OMIT_FUNCTION != 5
HOST_EXPORT float mi_random() {
  note(kRandom, 0);
  const float draw = first_draw(static_cast<std::int32_t>(generator));
  generator = host_generator_step(generator);
  return draw;
}
#endif
