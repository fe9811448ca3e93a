// A renderer as cheap as it gets, for measuring what the library adds.
#include <cstdint>

#include "ravelTint/renderer.h"
#include "support/host_generator.h"

namespace {
const void* record;
const char* name;
// Initial-exec TLS: a plain load from the thread pointer, with no call into the
// dynamic linker, which would cost more than the generator itself.
[[gnu::tls_model("initial-exec")]] thread_local std::uint32_t generator;
}  // namespace

extern "C" RAVELTINT_RENDERER_EXPORT void bench_host_set(
    const void* instance_record, const char* element_name) {
  record = instance_record;
  name = element_name;
}

RAVELTINT_RENDERER_EXPORT void* mi_phen_eval(ravelTint_state*,
                                             void* parameter) {
  return parameter;
}
RAVELTINT_RENDERER_EXPORT void* mi_db_access(ravelTint_tag) {
  return const_cast<void*>(record);
}
RAVELTINT_RENDERER_EXPORT void mi_db_unpin(ravelTint_tag) {}
RAVELTINT_RENDERER_EXPORT char* mi_api_tag_lookup(ravelTint_tag) {
  return const_cast<char*>(name);
}
RAVELTINT_RENDERER_EXPORT void mi_srandom(std::int32_t seed) {
  generator = static_cast<std::uint32_t>(seed);
}
// The draw is the state itself, then the state steps: the first draw after
// a seed tells which seed it came from, as in every other host of the tree.
RAVELTINT_RENDERER_EXPORT float mi_random() {
  const float draw = host_generator_draw(generator);
  generator = host_generator_step(generator);
  return draw;
}

// For the entry and message costs.
extern "C" {
RAVELTINT_RENDERER_EXPORT float mi_noise_1d(float x) { return x * 0.5f + 1.0f; }
RAVELTINT_RENDERER_EXPORT std::intptr_t mi_info(const char* text, ...) {
  return static_cast<unsigned char>(text[0]);
}
}
