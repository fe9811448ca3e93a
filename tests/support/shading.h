// A shading call as the renderer makes it: a render state, the current shader
// record, the parameter block (with room for connection tags around it), an
// instance record and the element it names.
#pragma once

#include <cstdint>
#include <cstring>

#include "library/shader/parameters.h"
#include "library/shader/records.h"

namespace testing_support {

struct ShadingSetup {
  host::StateLayout state{};
  host::ShaderRecordLayout shader_record{};
  host::InstanceLayout instance{};
  // The parameter block sits in the middle, so that connection tags can be
  // kept before or after it.
  alignas(8) unsigned char block[256]{};
  static constexpr int kParameters = 128;

  ShadingSetup(host::Tag instance_tag, host::Tag item_tag) {
    state.instance = instance_tag;
    state.shader = &shader_record;
    instance.item = item_tag;
  }
  // The state points into the setup itself.
  ShadingSetup(const ShadingSetup&) = delete;
  ShadingSetup& operator=(const ShadingSetup&) = delete;

  shader::Parameters* parameters() {
    return reinterpret_cast<shader::Parameters*>(block + kParameters);
  }

  void set_parameters(std::int32_t seed, host::Boolean grayscale) {
    *parameters() = {seed, grayscale};
  }

  // Connects the parameter at byte `parameter` of the block (0: seed,
  // 4: grayscale) with `tag`, `offset` bytes beyond its value.
  void connect(int parameter, std::int32_t offset, host::Tag tag) {
    shader_record.connection_offset = offset;
    std::memcpy(block + kParameters + parameter + offset, &tag, sizeof tag);
  }

  host::State* render_state() { return reinterpret_cast<host::State*>(&state); }
};

}  // namespace testing_support
