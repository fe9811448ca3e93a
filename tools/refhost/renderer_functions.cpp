#include "tools/refhost/renderer_functions.h"

#include <cstdarg>
#include <cstdio>

#include "library/shader/records.h"
#include "ravelTint/renderer.h"
#include "tools/common/errors.h"
#include "tools/common/quoting.h"
#include "tools/refhost/database.h"

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

// The renderer functions the shader calls, exported from the executable so
// that the library finds them by name in the module handed to it.

RAVELTINT_RENDERER_EXPORT void* mi_phen_eval(host::State* state,
                                             void* parameter) {
  return const_cast<std::int32_t*>(active->evaluate(state, parameter));
}

RAVELTINT_RENDERER_EXPORT void* mi_db_access(host::Tag tag) {
  return const_cast<void*>(active->access(tag));
}

RAVELTINT_RENDERER_EXPORT void mi_db_unpin(host::Tag tag) {
  active->unpin(tag);
}

// Declared as the renderer declares it; the library only reads the name.
RAVELTINT_RENDERER_EXPORT char* mi_api_tag_lookup(host::Tag tag) {
  return const_cast<char*>(active->name(tag));
}

RAVELTINT_RENDERER_EXPORT void mi_srandom(std::int32_t seed) {
  if (refhost::probe) refhost::probe->push_back(seed);
  refhost::generator.seed(seed);
}

RAVELTINT_RENDERER_EXPORT float mi_random() {
  return refhost::generator.draw();
}

// The renderer's log: one printable line on standard error.
RAVELTINT_RENDERER_EXPORT std::intptr_t mi_warning(const char* format, ...) {
  char text[1024];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "%s: warning: %s\n", common::program_name(),
               common::printable_line(text).c_str());
  return 0;
}
