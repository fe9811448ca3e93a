// The recording host that the shader tests hand to the library: it exports
// the six renderer functions the shader calls, and nothing else of the
// renderer's. Test helpers (shader_host_*) set up its tiny scene database and
// read the calls it saw on the calling thread.
#pragma once

#include <cstdint>
#include <string>

#include "library/shader/records.h"
#include "support/host_generator.h"
#include "support/module.hpp"

namespace shader_host {

enum Function { kPhenEval, kDbAccess, kDbUnpin, kTagLookup, kSrandom, kRandom };

struct Call {
  int function;
  std::int64_t argument;  // the tag or seed; 0 for mi_random
  bool operator==(const Call& other) const {
    return function == other.function && argument == other.argument;
  }
};

struct CallLog {
  Call calls[64];
  int count;
};

// The generator's first draw after a seed: the seed's top 24 bits as a
// fraction. Tests predict colours with it.
inline float first_draw(std::int32_t seed) {
  return host_generator_draw(static_cast<std::uint32_t>(seed));
}

// Helpers, looked up by name.
using Reset = void (*)();  // empties the database and this thread's log
using Put = void (*)(host::Tag, const void* record, const char* name);
using SetEvaluated = void (*)(const std::int32_t* value);  // null: fail
using Calls = CallLog* (*)();                              // this thread's
using Pins = int (*)();  // pins still held, all threads

// A build of the host (`shader_host`, or one without a function) and its
// helpers; all null for no module at all. The process ends with the reason
// where the module or a helper cannot be found.
struct Module {
  void* module = nullptr;
  Reset reset = nullptr;
  Put put = nullptr;
  SetEvaluated set_evaluated = nullptr;
  Calls calls = nullptr;
  Pins pins = nullptr;
};

inline Module open(const std::string& base = "shader_host") {
  Module m;
  m.module = support::require_module(base);
  support::require_function(m.module, "shader_host_reset", m.reset);
  support::require_function(m.module, "shader_host_put", m.put);
  support::require_function(m.module, "shader_host_set_evaluated",
                            m.set_evaluated);
  support::require_function(m.module, "shader_host_calls", m.calls);
  support::require_function(m.module, "shader_host_pins", m.pins);
  return m;
}

}  // namespace shader_host
