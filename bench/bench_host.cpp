// A renderer as cheap as it gets, for measuring what the library adds.
#include <cstdint>

#include "host/records.h"
#include "support/host_generator.h"
#include "tests/hosts/export.h"

namespace {
const void* record;
const char* name;
// Initial-exec TLS: a plain load from the thread pointer, with no call into the
// dynamic linker, which would cost more than the generator itself.
[[gnu::tls_model("initial-exec")]] thread_local std::uint32_t generator;
}  // namespace

HOST_EXPORT void bench_host_set(const void* instance_record,
                                const char* element_name) {
  record = instance_record;
  name = element_name;
}

HOST_EXPORT void* mi_phen_eval(host::State*, void* parameter) {
  return parameter;
}
HOST_EXPORT void* mi_db_access(host::Tag) { return const_cast<void*>(record); }
HOST_EXPORT void mi_db_unpin(host::Tag) {}
HOST_EXPORT char* mi_api_tag_lookup(host::Tag) {
  return const_cast<char*>(name);
}
HOST_EXPORT void mi_srandom(std::int32_t seed) {
  generator = static_cast<std::uint32_t>(seed);
}
// The draw is the state itself, then the state steps: the first draw after
// a seed tells which seed it came from, as in every other host of the tree.
HOST_EXPORT float mi_random() {
  const float draw = host_generator_draw(generator);
  generator = host_generator_step(generator);
  return draw;
}

// For the entry and message costs.
HOST_EXPORT float mi_noise_1d(float x) { return x * 0.5f + 1.0f; }
HOST_EXPORT std::intptr_t mi_info(const char* text, ...) {
  return static_cast<unsigned char>(text[0]);
}
