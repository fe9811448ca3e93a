// The shader against a hostile host: any name, any parameters, connection
// tags anywhere in the parameter block, and a host that returns null where it
// can. Every colour is compared with the tests' plain model of the
// derivation, written apart from the library's own code.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ravelTint/ravelTint.h"
#include "support/module.hpp"
#include "tests/hosts/shader_host.h"
#include "tests/support/colour_model.h"
#include "tests/support/shading.h"

namespace {

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
  static const shader_host::Module host = [] {
    const shader_host::Module opened = shader_host::open();
    miSetModuleHandle(opened.module);
    return opened;
  }();
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
    expected.red = testing_support::model_channel(name, seed, 11);
    expected.green = grayscale ? expected.red
                               : testing_support::model_channel(name, seed, 21);
    expected.blue = grayscale ? expected.red
                              : testing_support::model_channel(name, seed, 31);
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
