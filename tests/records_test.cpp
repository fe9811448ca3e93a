// The renderer's records as the library reads them. The offsets are written
// here as the renderer's 64-bit layout gives them, as plain numbers and not
// from library/shader/records.h, and each record is built as raw bytes: a wrong
// offset in the layout structs fails here, though every test host, built from
// the same structs, would agree with it.
#include "library/shader/records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "library/shader/parameters.h"

namespace {

template <typename T>
void put(unsigned char* record, int offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

TEST(Records, FieldsAreReadAtTheRenderersOffsets) {
  alignas(8) unsigned char state[320] = {}, shader[100] = {},
                           instance[224] = {}, block[8] = {};
  put<std::uint32_t>(state, 160, 0x01020304u);     // instance tag
  put<const void*>(state, 312, shader);            // current shader record
  put<std::int32_t>(shader, 96, -24);              // parameter connections
  put<std::uint32_t>(instance, 216, 0x0a0b0c0du);  // named element
  put<std::int32_t>(block, 0, -7);                 // seed
  put<std::int32_t>(block, 4, 1);                  // grayscale
  const auto* s = reinterpret_cast<const host::State*>(state);
  EXPECT_EQ(host::state_instance(s), 0x01020304u);
  EXPECT_EQ(host::state_shader_record(s), shader);
  EXPECT_EQ(host::shader_connection_offset(shader), -24);
  EXPECT_EQ(host::instance_item(instance), 0x0a0b0c0du);
  const auto* parameters = reinterpret_cast<const shader::Parameters*>(block);
  EXPECT_EQ(parameters->seed, -7);
  EXPECT_EQ(parameters->grayscale, 1);
}

}  // namespace
