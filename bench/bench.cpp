// What the library costs against the floor: the same work with direct calls
// to the renderer. Run: build/linux/bin/ravelTint_bench
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "library/dynload/variadic.h"
#include "library/shader/murmur2.h"
#include "library/shader/parameters.h"
#include "library/shader/seed.h"
#include "ravelTint/ravelTint.h"
#include "support/library.hpp"
#include "support/module.h"
#include "support/module.hpp"

extern "C" float mi_noise_1d(float x);

namespace {

struct Host {
  void* module;
  void* (*phen_eval)(host::State*, void*);
  void* (*db_access)(host::Tag);
  void (*db_unpin)(host::Tag);
  char* (*tag_lookup)(host::Tag);
  void (*srandom)(std::int32_t);
  float (*random)();
  float (*noise_1d)(float);
  std::intptr_t (*info)(const char*, ...);
  void (*set)(const void*, const char*);
};

const Host& bench_host() {
  static const Host host = [] {
    using support::require_function;
    Host h{};
    h.module = support::require_module("bench_host");
    require_function(h.module, "mi_phen_eval", h.phen_eval);
    require_function(h.module, "mi_db_access", h.db_access);
    require_function(h.module, "mi_db_unpin", h.db_unpin);
    require_function(h.module, "mi_api_tag_lookup", h.tag_lookup);
    require_function(h.module, "mi_srandom", h.srandom);
    require_function(h.module, "mi_random", h.random);
    require_function(h.module, "mi_noise_1d", h.noise_1d);
    require_function(h.module, "mi_info", h.info);
    require_function(h.module, "bench_host_set", h.set);
    miSetModuleHandle(h.module);
    return h;
  }();
  return host;
}

// ---- (a) a resolved entry against a direct call through a pointer.

void BM_EntryResolved(benchmark::State& state) {
  bench_host();
  float x = 1.0f;
  for (auto _ : state) {
    x = mi_noise_1d(x);
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_EntryResolved);

void BM_EntryFloor(benchmark::State& state) {
  float (*volatile direct)(float) = bench_host().noise_1d;
  float (*noise)(float) = direct;
  float x = 1.0f;
  for (auto _ : state) {
    x = noise(x);
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_EntryFloor);

// ---- (b) the shader against the same arithmetic with direct host calls.

struct Scene {
  host::StateLayout state{};
  host::ShaderRecordLayout shader_record{};
  host::InstanceLayout instance{};
  shader::Parameters parameters{7, 0};
  std::string name;

  explicit Scene(std::size_t length) : name(length, 'n') {
    state.instance = 3;
    state.shader = &shader_record;
    instance.item = 4;
    bench_host().set(&instance, name.c_str());
  }
  host::State* render_state() { return reinterpret_cast<host::State*>(&state); }
};

void BM_Shader(benchmark::State& state) {
  Scene scene(static_cast<std::size_t>(state.range(0)));
  host::Colour colour;
  for (auto _ : state) {
    ravelTint(&colour, scene.render_state(), &scene.parameters);
    benchmark::DoNotOptimize(colour);
  }
}
BENCHMARK(BM_Shader)->Arg(8)->Arg(32)->Arg(128);

// The shader with the colour record on, after each object's first call,
// against the shader with it off: each a copy of the library loaded as a
// renderer loads it (the record is decided at a process's first call, so
// each copy decides for itself), called alike through its export.
support::LibraryExports loaded_copy(const char* copy, bool recording) {
  const std::string folder = support::program_directory();
  const std::string path = folder + "/" + copy;
  std::ifstream from(support::module_path("ravelTint"), std::ios::binary);
  std::ofstream(path, std::ios::binary) << from.rdbuf();
  char reason[MODULE_REASON_SIZE];
  void* module = module_open(path.c_str(), reason, sizeof reason);
  support::LibraryExports exports;
  if (!module || support::find_exports(module, exports)) std::abort();
  exports.set_module_handle(bench_host().module);
  if (recording)
    setenv("RAVELTINT_RECORD", (folder + "/bench_record.jsonl").c_str(), 1);
  else
    unsetenv("RAVELTINT_RECORD");
  Scene scene(8);
  host::Colour colour;
  exports.shade(&colour, scene.render_state(), &scene.parameters);  // decides
  unsetenv("RAVELTINT_RECORD");
  return exports;
}

template <bool recording>
void shade_loaded(benchmark::State& state) {
  static const support::LibraryExports copy = loaded_copy(
      recording ? "ravelTint_recording.so" : "ravelTint_plain.so", recording);
  Scene scene(static_cast<std::size_t>(state.range(0)));
  host::Colour colour;
  copy.shade(&colour, scene.render_state(), &scene.parameters);  // recorded
  for (auto _ : state) {
    copy.shade(&colour, scene.render_state(), &scene.parameters);
    benchmark::DoNotOptimize(colour);
  }
}

void BM_ShaderLoaded(benchmark::State& state) { shade_loaded<false>(state); }
BENCHMARK(BM_ShaderLoaded)->Arg(8)->Arg(32)->Arg(128);

void BM_ShaderRecording(benchmark::State& state) { shade_loaded<true>(state); }
BENCHMARK(BM_ShaderRecording)->Arg(8)->Arg(32)->Arg(128);

// The floors: what any shader must do, written inline, calling the renderer
// directly. Both read the parameters and the name alike.
struct FloorName {
  std::int32_t seed;
  bool grayscale;
  const char* name;
  std::size_t length;
};

FloorName floor_name(const Host& h, host::StateLayout& s,
                     shader::Parameters& parameters) {
  // A parameter is read through the renderer only when it is connected.
  auto parameter = [&](std::int32_t* value) {
    const std::int32_t offset = s.shader->connection_offset;
    host::Tag tag = 0;
    if (offset != 0) std::memcpy(&tag, value + offset / 4, sizeof tag);
    if (tag != 0)
      if (const void* evaluated =
              h.phen_eval(reinterpret_cast<host::State*>(&s), value))
        return *static_cast<const std::int32_t*>(evaluated);
    return *value;
  };
  const std::int32_t seed = parameter(&parameters.seed);
  const bool grayscale = parameter(&parameters.grayscale) != 0;
  const auto* record =
      static_cast<const host::InstanceLayout*>(h.db_access(s.instance));
  const char* name = h.tag_lookup(record->item);
  h.db_unpin(s.instance);
  return {seed, grayscale, name, std::strlen(name)};
}

float floor_channel(const Host& h, std::uint32_t hash) {
  h.srandom(shader::random_seed_from_hash(hash));
  return h.random();
}

// The straightforward floor: one pass over the name per channel.
[[gnu::noinline]] host::Colour shade_floor(const Host& h, host::StateLayout& s,
                                           shader::Parameters& parameters) {
  const FloorName n = floor_name(h, s, parameters);
  const auto seed = static_cast<std::uint32_t>(n.seed);
  float channel[3];
  const std::uint32_t offsets[3] = {shader::kRedOffset, shader::kGreenOffset,
                                    shader::kBlueOffset};
  for (int c = 0; c < (n.grayscale ? 1 : 3); ++c)
    channel[c] =
        floor_channel(h, shader::murmur2(n.name, n.length, seed + offsets[c]));
  return {channel[0], channel[1], channel[2], 1.0f};
}

// The fused floor: one pass over the name for all three channels.
[[gnu::noinline]] host::Colour shade_fused_floor(
    const Host& h, host::StateLayout& s, shader::Parameters& parameters) {
  const FloorName n = floor_name(h, s, parameters);
  const auto seed = static_cast<std::uint32_t>(n.seed);
  if (n.grayscale) {
    const float grey = floor_channel(
        h, shader::murmur2(n.name, n.length, seed + shader::kRedOffset));
    return {grey, grey, grey, 1.0f};
  }
  const auto hashes = shader::murmur2_three(
      n.name, n.length,
      {seed + shader::kRedOffset, seed + shader::kGreenOffset,
       seed + shader::kBlueOffset});
  return {floor_channel(h, hashes[0]), floor_channel(h, hashes[1]),
          floor_channel(h, hashes[2]), 1.0f};
}

using Floor = host::Colour (*)(const Host&, host::StateLayout&,
                               shader::Parameters&);

// The floor is a template argument, so that it is called directly, as the
// shader is.
template <Floor floor>
void shade_with(benchmark::State& state) {
  Scene scene(static_cast<std::size_t>(state.range(0)));
  const Host& h = bench_host();
  for (auto _ : state) {
    host::Colour colour = floor(h, scene.state, scene.parameters);
    benchmark::DoNotOptimize(colour);
  }
}

void BM_ShaderFusedFloor(benchmark::State& state) {
  shade_with<shade_fused_floor>(state);
}
BENCHMARK(BM_ShaderFusedFloor)->Arg(8)->Arg(32)->Arg(128);

void BM_ShaderFloor(benchmark::State& state) { shade_with<shade_floor>(state); }
BENCHMARK(BM_ShaderFloor)->Arg(8)->Arg(32)->Arg(128);

// ---- (c) a message against vsnprintf and the direct host call.

void BM_Message(benchmark::State& state) {
  bench_host();
  for (auto _ : state)
    benchmark::DoNotOptimize(
        mi_info("object %s: %d samples, %.3f s", "chair_leg_03", 64, 0.125));
}
BENCHMARK(BM_Message);

std::intptr_t floor_message(const Host& h, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return h.info(text);
}

void BM_MessageFloor(benchmark::State& state) {
  const Host& h = bench_host();
  for (auto _ : state)
    benchmark::DoNotOptimize(floor_message(h, "object %s: %d samples, %.3f s",
                                           "chair_leg_03", 64, 0.125));
}
BENCHMARK(BM_MessageFloor);

// ---- (d) the shader on one and two threads: the calls share no writes.
// The floor runs the same way, as the yardstick of what the machine gives.

Scene& shared_scene() {
  static Scene* scene = new Scene(32);
  return *scene;
}

void BM_ShaderThreads(benchmark::State& state) {
  // Each thread shades its own sample, as a renderer's threads do.
  host::StateLayout sample = shared_scene().state;
  shader::Parameters parameters = shared_scene().parameters;
  host::Colour colour;
  for (auto _ : state) {
    ravelTint(&colour, reinterpret_cast<host::State*>(&sample), &parameters);
    benchmark::DoNotOptimize(colour);
  }
  state.SetItemsProcessed(state.iterations());  // summed over the threads
}
BENCHMARK(BM_ShaderThreads)->Threads(1)->Threads(2)->UseRealTime();

void BM_ShaderFloorThreads(benchmark::State& state) {
  host::StateLayout sample = shared_scene().state;
  shader::Parameters parameters = shared_scene().parameters;
  const Host& h = bench_host();
  for (auto _ : state) {
    host::Colour colour = shade_floor(h, sample, parameters);
    benchmark::DoNotOptimize(colour);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ShaderFloorThreads)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
