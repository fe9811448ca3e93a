// The renderer's records, as far as the library reads them.
//
// The renderer owns these records; the library reads a handful of fields at
// fixed byte offsets of the 64-bit layout and nothing else. The layout
// structs of the renderer contract (ravelTint/renderer.h) give those
// offsets, pinned here at compile time, and let hosts (the reference host,
// the tests) build records the way the renderer lays them out. The library
// itself reads each field through an accessor that copies the bytes, so that no
// record is ever accessed through a type it was not written as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ravelTint/renderer.h"

namespace host {

// The renderer's 32-bit identifier of a scene database element; 0 is none.
using Tag = ::ravelTint_tag;
// 0 is false, any other value true; the renderer's true is 1.
using Boolean = std::int32_t;

struct Colour {
  float red, green, blue, alpha;
};

// The records' layouts, as the renderer contract gives them.
using ShaderRecordLayout = ::ravelTint_shader_record;
using StateLayout = ::ravelTint_state_layout;
using InstanceLayout = ::ravelTint_instance_record;

static_assert(offsetof(ShaderRecordLayout, connection_offset) == 96);
static_assert(offsetof(StateLayout, instance) == 160);
static_assert(offsetof(StateLayout, shader) == 312);
static_assert(offsetof(InstanceLayout, item) == 216);
static_assert(sizeof(void*) == 8, "the records are those of the 64-bit host");

// The render state is opaque to the library: only its accessors read it.
using State = ::ravelTint_state;

template <typename T>
T read_field(const void* record, std::ptrdiff_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(record) + offset,
              sizeof value);
  return value;
}

inline Tag state_instance(const State* state) {
  return read_field<Tag>(state, offsetof(StateLayout, instance));
}

inline const void* state_shader_record(const State* state) {
  return read_field<const void*>(state, offsetof(StateLayout, shader));
}

inline std::int32_t shader_connection_offset(const void* shader_record) {
  return read_field<std::int32_t>(
      shader_record, offsetof(ShaderRecordLayout, connection_offset));
}

inline Tag instance_item(const void* instance_record) {
  return read_field<Tag>(instance_record, offsetof(InstanceLayout, item));
}

}  // namespace host
