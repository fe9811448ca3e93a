// The steps of the shader, each a small function of its own. They are
// defined here, inline, because the shader runs on every sample: a call
// between them costs as much as the work some of them do.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "library/shader/host_calls.h"
#include "library/shader/murmur2.h"
#include "library/shader/records.h"
#include "library/shader/seed.h"

namespace shader {

// A parameter's value: the stored one, or the evaluated one when the
// parameter is connected.
inline std::int32_t parameter_value(host::State* state,
                                    std::int32_t* parameter) {
  const void* shader_record = host::state_shader_record(state);
  const std::int32_t offset =
      shader_record ? host::shader_connection_offset(shader_record) : 0;
  // A connected parameter keeps a non-zero connection tag `offset` bytes
  // beyond its value.
  if (offset != 0 && host::read_field<host::Tag>(parameter, offset) != 0) {
    // A null address means the renderer could not evaluate it (or the
    // function is missing): the stored value stands.
    if (const void* value = RAVELTINT_HOST_CALL(mi_phen_eval)(state, parameter))
      return host::read_field<std::int32_t>(value, 0);
  }
  return *parameter;
}

// The name of the element that `instance` refers to, or null when it has none.
// The instance is pinned only while its record is read.
inline const char* element_name(host::Tag instance) {
  const void* record = RAVELTINT_HOST_CALL(mi_db_access)(instance);
  // No record means nothing was pinned, so there is nothing to unpin either:
  // a renderer that counts pins would go below zero.
  if (!record) return nullptr;
  const host::Tag item = host::instance_item(record);
  const char* name =
      item ? RAVELTINT_HOST_CALL(mi_api_tag_lookup)(item) : nullptr;
  RAVELTINT_HOST_CALL(mi_db_unpin)(instance);
  // The name belongs to the renderer's name table, not to the pinned record,
  // so it stays valid after the unpin.
  return name;
}

// One channel: the renderer's generator, seeded from the channel's hash, and
// its first draw.
inline float draw_channel(std::uint32_t hash) {
  RAVELTINT_HOST_CALL(mi_srandom)(random_seed_from_hash(hash));
  return RAVELTINT_HOST_CALL(mi_random)();
}

// The colour of a name (null: no name) for the shader's parameters, with
// the channel hashes it came from: with grayscale, red's alone unless
// `all_hashes` asks for the three (the colour record tells objects apart by
// them). Always inlined: the compiler would otherwise keep it apart, and the
// call costs a measurable share of a short name's colour.
[[gnu::always_inline]] inline host::Colour derive_colour(
    const char* name, std::int32_t seed, host::Boolean grayscale,
    bool all_hashes, std::array<std::uint32_t, 3>& hashes) {
  // Elements without a name hash as the empty name: a stable colour too.
  if (!name) name = "";
  const std::size_t length = std::strlen(name);
  if (grayscale && !all_hashes) {
    hashes[0] = murmur2(name, length, channel_hash_seed(seed, kRedOffset));
  } else {
    // The three channel hashes of the name come from one pass over it, red's
    // bit for bit the one murmur2 gives alone.
    hashes = murmur2_three(name, length,
                           {channel_hash_seed(seed, kRedOffset),
                            channel_hash_seed(seed, kGreenOffset),
                            channel_hash_seed(seed, kBlueOffset)});
  }
  if (grayscale) {
    const float grey = draw_channel(hashes[0]);
    return {grey, grey, grey, 1.0f};
  }
  // The renderer sees one seed-and-draw pair per channel: red, green, blue.
  const float red = draw_channel(hashes[0]);
  const float green = draw_channel(hashes[1]);
  const float blue = draw_channel(hashes[2]);
  return {red, green, blue, 1.0f};
}

inline void write_colour(void* result, const host::Colour& colour) {
  std::memcpy(result, &colour, sizeof colour);
}

}  // namespace shader
