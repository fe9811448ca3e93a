// The shader's parameter block, as the renderer lays it out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "library/shader/records.h"

namespace shader {

struct Parameters {
  std::int32_t seed;        // re-rolls every colour
  host::Boolean grayscale;  // derive red only and copy it to green and blue
};

static_assert(offsetof(Parameters, seed) == 0);
static_assert(offsetof(Parameters, grayscale) == 4);

}  // namespace shader
