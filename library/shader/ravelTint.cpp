// The object-ID shader: a flat, stable colour for every scene object.
#include "ravelTint/ravelTint.h"

#include "library/shader/check.h"
#include "library/shader/colour.h"
#include "library/shader/parameters.h"
#include "library/shader/record.h"
#include "library/shader/version.h"

extern "C" {

RAVELTINT_API std::int32_t ravelTint_version(void) {
  return RAVELTINT_SHADER_VERSION;
}

// Renderer calls in the order hosts rely on: parameters, name, seeds, draws.
RAVELTINT_API std::int32_t ravelTint(void* result, host::State* state,
                                     void* params) {
  auto* parameters = static_cast<shader::Parameters*>(params);
  const std::int32_t seed = shader::parameter_value(state, &parameters->seed);
  const host::Boolean grayscale =
      shader::parameter_value(state, &parameters->grayscale);
  // No instance, nothing to pin or name: report it (at line 26, which log
  // tooling matches on) and shade black, never aborting the renderer.
  static_assert(__LINE__ + 1 == 26, "the instance check stands at line 26");
  if (!RAVELTINT_CHECK(host::state_instance(state), "state->instance")) {
    shader::write_colour(result, {0.0f, 0.0f, 0.0f, 1.0f});
    return 1;
  }
  const char* name = shader::element_name(host::state_instance(state));
  // Asked for, the record notes the colour; it never changes one.
  const bool recording = shader::record::on();
  shader::record::Hashes hashes;
  const host::Colour colour =
      shader::derive_colour(name, seed, grayscale, recording, hashes);
  shader::write_colour(result, colour);
  if (recording)
    shader::record::colour_given(name, seed, grayscale != 0, colour, hashes);
  return 1;
}

}  // extern "C"
