// The shader against a hostile host: any name, any parameters, connection
// tags anywhere in the parameter block, and a host that returns null where it
// can. Every colour is compared with a plain model of the derivation written
// here, apart from the library's own code.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ravelTint/ravelTint.h"
#include "tests/hosts/shader_host.h"
#include "support/module.hpp"
#include "tests/support/shading.h"

namespace {

// MurmurHash2, byte by byte.
std::uint32_t model_hash(const std::string& name, std::uint32_t seed) {
  const std::uint32_t m = 0x5bd1e995;
  const std::size_t blocks = name.size() / 4;
  std::uint32_t h = seed ^ static_cast<std::uint32_t>(name.size());
  auto byte = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[i]));
  };
  for (std::size_t b = 0; b < blocks; ++b) {
    std::uint32_t k = byte(4 * b) | byte(4 * b + 1) << 8 |
                      byte(4 * b + 2) << 16 | byte(4 * b + 3) << 24;
    k *= m;
    k ^= k >> 24;
    k *= m;
    h = (h * m) ^ k;
  }
  const std::size_t tail = 4 * blocks, left = name.size() - tail;
  if (left == 3) h ^= byte(tail + 2) << 16;
  if (left >= 2) h ^= byte(tail + 1) << 8;
  if (left >= 1) h = (h ^ byte(tail)) * m;
  h ^= h >> 13;
  h *= m;
  return h ^ (h >> 15);
}

// Rounds to 24 significant bits, ties to even, then truncates to int32 as the
// hardware does: anything from 2^31 up is INT32_MIN.
std::int32_t model_seed(std::uint32_t h) {
  std::uint64_t value = h;
  int shift = 0;
  while ((value >> shift) >= (1u << 24)) ++shift;
  if (shift > 0) {
    const std::uint64_t q = value >> shift,
                        rest = value & ((1ull << shift) - 1);
    const std::uint64_t half = 1ull << (shift - 1);
    const std::uint64_t up = rest > half || (rest == half && (q & 1));
    value = (q + up) << shift;
  }
  return value >= (1ull << 31) ? INT32_MIN : static_cast<std::int32_t>(value);
}

float model_channel(const std::string& name, std::int32_t seed,
                    std::uint32_t offset) {
  const std::uint32_t hash_seed = static_cast<std::uint32_t>(seed) + offset;
  return shader_host::first_draw(model_seed(model_hash(name, hash_seed)));
}

struct Host {
  Host() {
    void* module = support::require_module("shader_host");
    support::require_function(module, "shader_host_reset", reset);
    support::require_function(module, "shader_host_put", put);
    support::require_function(module, "shader_host_set_evaluated",
                                      set_evaluated);
    miSetModuleHandle(module);
  }
  shader_host::Reset reset;
  shader_host::Put put;
  shader_host::SetEvaluated set_evaluated;
};

// The value the shader must use for the parameter at byte `at` of the block.
std::int32_t model_parameter(const testing_support::ShadingSetup& setup, int at,
                             const std::int32_t* evaluated) {
  std::int32_t stored, tag;
  const unsigned char* value = setup.block + setup.kParameters + at;
  std::memcpy(&stored, value, 4);
  const std::int32_t offset = setup.shader_record.connection_offset;
  if (offset == 0) return stored;
  std::memcpy(&tag, value + offset, 4);
  return tag != 0 && evaluated ? *evaluated : stored;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static Host host;
  FuzzedDataProvider input(data, size);
  const auto flags = input.ConsumeIntegral<std::uint8_t>();
  const bool no_record = flags & 1, no_name = flags & 2, no_item = flags & 4,
             no_instance = flags & 8, eval_fails = flags & 16;
  const std::int32_t evaluated_value = input.ConsumeIntegral<std::int32_t>();
  const std::int32_t* evaluated = eval_fails ? nullptr : &evaluated_value;

  testing_support::ShadingSetup setup(no_instance ? 0 : 7, no_item ? 0 : 9);
  setup.set_parameters(input.ConsumeIntegral<std::int32_t>(),
                       input.ConsumeIntegral<std::int32_t>());
  // Connection tags anywhere in the block, even over the parameters.
  const int offset = input.ConsumeIntegralInRange<int>(-128, 120);
  setup.shader_record.connection_offset = offset;
  for (int at : {0, 4}) {
    const auto tag = input.ConsumeIntegral<std::uint32_t>();
    const int place = setup.kParameters + at + offset;
    if (offset != 0 && place >= 0 && place + 4 <= int(sizeof setup.block))
      std::memcpy(setup.block + place, &tag, 4);
  }
  const std::string text = input.ConsumeRemainingBytesAsString();

  host.reset();
  if (!no_record) host.put(7, &setup.instance, nullptr);
  host.put(9, nullptr, no_name ? nullptr : text.c_str());
  host.set_evaluated(evaluated);

  const std::int32_t seed = model_parameter(setup, 0, evaluated);
  const bool grayscale = model_parameter(setup, 4, evaluated) != 0;
  // The shader sees the name up to its first zero byte.
  const std::string name = no_record || no_item || no_name
                               ? std::string()
                               : std::string(text.c_str());
  host::Colour expected{0, 0, 0, 1};
  if (!no_instance) {
    expected.red = model_channel(name, seed, 11);
    expected.green = grayscale ? expected.red : model_channel(name, seed, 21);
    expected.blue = grayscale ? expected.red : model_channel(name, seed, 31);
  }

  host::Colour colour{-1, -1, -1, -1};
  const std::int32_t result =
      ravelTint(&colour, setup.render_state(), setup.parameters());
  if (result != 1 || std::memcmp(&colour, &expected, sizeof colour) != 0) {
    std::fprintf(stderr, "colour %g %g %g %g, expected %g %g %g %g\n",
                 colour.red, colour.green, colour.blue, colour.alpha,
                 expected.red, expected.green, expected.blue, expected.alpha);
    std::abort();
  }
  return 0;
}
