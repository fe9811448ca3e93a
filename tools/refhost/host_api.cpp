// The renderer functions the shader calls, exported from the executable so
// that the library finds them by name in the module handed to it.
#include "tools/refhost/host_api.h"

#include "host/records.h"
#include "support/module.h"
#include "tools/refhost/database.h"
#include "tools/refhost/generator.h"

#define RENDERER_API extern "C" RENDERER_EXPORT

namespace refhost {

namespace {
Database* active;
thread_local SplitMix64 generator;
thread_local std::vector<std::int32_t>* probe;
}  // namespace

void set_active_database(Database* database) { active = database; }
void set_seed_probe(std::vector<std::int32_t>* seeds) { probe = seeds; }

}  // namespace refhost

using refhost::active;

RENDERER_API void* mi_phen_eval(host::State* state, void* parameter) {
  return const_cast<std::int32_t*>(active->evaluate(state, parameter));
}

RENDERER_API void* mi_db_access(host::Tag tag) {
  return const_cast<void*>(active->access(tag));
}

RENDERER_API void mi_db_unpin(host::Tag tag) { active->unpin(tag); }

// Declared as the renderer declares it; the library only reads the name.
RENDERER_API char* mi_api_tag_lookup(host::Tag tag) {
  return const_cast<char*>(active->name(tag));
}

RENDERER_API void mi_srandom(std::int32_t seed) {
  if (refhost::probe) refhost::probe->push_back(seed);
  refhost::generator.seed(seed);
}

RENDERER_API float mi_random() { return refhost::generator.draw(); }
