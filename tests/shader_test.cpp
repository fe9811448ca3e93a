// The shader as a renderer runs it: the real library, loaded by path, bound
// to a recording host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "support/module.hpp"
#include "tests/hosts/export.h"
#include "tests/hosts/shader_host.h"
#include "tests/support/colour_model.h"
#include "tests/support/library.h"
#include "tests/support/shading.h"
#include "tests/support/stderr_capture.h"

// The test program exports the six renderer functions itself, as a renderer
// executable does. Without a module handed over, the library must bind
// neither these nor any other module's: it looks nothing up at all.
namespace decoy {
int calls = 0;
}
HOST_EXPORT void* mi_phen_eval(host::State*, void*) {
  return ++decoy::calls, nullptr;
}
HOST_EXPORT void* mi_db_access(host::Tag) { return ++decoy::calls, nullptr; }
HOST_EXPORT void mi_db_unpin(host::Tag) { ++decoy::calls; }
HOST_EXPORT char* mi_api_tag_lookup(host::Tag) {
  return ++decoy::calls, nullptr;
}
HOST_EXPORT void mi_srandom(std::int32_t) { ++decoy::calls; }
HOST_EXPORT float mi_random(void) { return ++decoy::calls, 0.5f; }

namespace {

using shader_host::Call;
using testing_support::library;
using testing_support::ShadingSetup;
namespace sh = shader_host;

constexpr host::Tag kInstance = 7;
constexpr host::Tag kItem = 9;

// The seed the shader must hand over for a channel of a name, and the
// colour the recording host's generator then gives, from the tests' own
// model of the derivation.
std::int32_t channel_seed(const std::string& name, std::int32_t seed,
                          std::uint32_t offset) {
  return testing_support::model_seed(testing_support::model_hash(
      name, static_cast<std::uint32_t>(seed) + offset));
}

float expected_channel(const std::string& name, std::int32_t seed,
                       std::uint32_t offset) {
  return testing_support::model_channel(name, seed, offset);
}

using Host = sh::Module;

class Shader : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(library().shade, nullptr);
    host_ = sh::open();
    library().set_module_handle(host_.module);
    host_.reset();
  }

  // The instance refers to an element called `name` (null: no name).
  void name_instance(const char* name, std::int32_t seed = 0,
                     host::Boolean grayscale = 0) {
    host_.reset();
    host_.put(kInstance, &setup_.instance, nullptr);
    host_.put(kItem, nullptr, name);
    setup_.set_parameters(seed, grayscale);
  }

  // Shades once; checks the result and alpha, which never vary, and that the
  // library wrote nothing: a complete host sees no lookup of any function
  // beyond the six, and no diagnostic. `report` takes what it wrote instead.
  host::Colour shade(std::string* report = nullptr) {
    host::Colour colour{-1, -1, -1, -1};
    std::int32_t result = 0;
    const std::string written = testing_support::stderr_of([&] {
      result =
          library().shade(&colour, setup_.render_state(), setup_.parameters());
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(colour.alpha, 1.0f);
    if (report)
      *report = written;
    else
      EXPECT_EQ(written, "");
    return colour;
  }

  std::vector<Call> calls() const {
    const sh::CallLog* log = host_.calls();
    return {log->calls, log->calls + log->count};
  }

  static Call call(sh::Function f, std::int64_t argument = 0) {
    return {f, argument};
  }

  static Call evaluation(const void* parameter) {
    return call(sh::kPhenEval, reinterpret_cast<std::intptr_t>(parameter));
  }

  // The calls that follow the parameters when a named instance is shaded.
  static std::vector<Call> expected_calls(const std::string& name,
                                          std::int32_t seed, bool grayscale) {
    std::vector<Call> expected = {call(sh::kDbAccess, kInstance),
                                  call(sh::kTagLookup, kItem),
                                  call(sh::kDbUnpin, kInstance)};
    for (std::uint32_t offset : {11u, 21u, 31u}) {
      expected.push_back(call(sh::kSrandom, channel_seed(name, seed, offset)));
      expected.push_back(call(sh::kRandom));
      if (grayscale) break;
    }
    return expected;
  }

  void expect_colour_of(const host::Colour& colour, const std::string& name,
                        std::int32_t seed) {
    EXPECT_EQ(colour.red, expected_channel(name, seed, 11)) << name;
    EXPECT_EQ(colour.green, expected_channel(name, seed, 21)) << name;
    EXPECT_EQ(colour.blue, expected_channel(name, seed, 31)) << name;
  }

  Host host_;
  ShadingSetup setup_{kInstance, kItem};
};

TEST_F(Shader, ReportsTheProjectsMajorVersion) {
  EXPECT_EQ(library().version(), RAVELTINT_SHADER_VERSION);
}

TEST_F(Shader, DerivesThreeChannelsInTheRenderersOrder) {
  name_instance("chair_leg_03", 1234);
  const host::Colour colour = shade();
  EXPECT_EQ(calls(), expected_calls("chair_leg_03", 1234, false));
  expect_colour_of(colour, "chair_leg_03", 1234);
  EXPECT_EQ(host_.pins(), 0);
}

TEST_F(Shader, GrayscaleDrawsRedOnlyForAnyTrueValue) {
  for (host::Boolean grayscale : {1, 2, -1}) {
    name_instance("lamp", 99, grayscale);
    const host::Colour colour = shade();
    EXPECT_EQ(calls(), expected_calls("lamp", 99, true));
    EXPECT_EQ(colour.red, expected_channel("lamp", 99, 11));
    EXPECT_EQ(colour.green, colour.red);
    EXPECT_EQ(colour.blue, colour.red);
  }
}

// Each channel hashes with the seed plus 11, 21 or 31, wrapping at 32 bits.
TEST_F(Shader, SeedWrapsAroundAtTheEndsOfItsRange) {
  for (std::int32_t seed : {INT32_MAX, -1, INT32_MIN}) {
    name_instance("wrap", seed);
    const host::Colour colour = shade();
    EXPECT_EQ(calls(), expected_calls("wrap", seed, false)) << seed;
    expect_colour_of(colour, "wrap", seed);
  }
}

TEST_F(Shader, NamesOfEveryTailLengthAndAnyByte) {
  for (const char* name : {"", "a", "ab", "abc", "abcd", "abcde", "abcdefgh",
                           "\xff\x80\x01", "caf\xc3\xa9 table"}) {
    name_instance(name, -5);
    const host::Colour colour = shade();
    EXPECT_EQ(calls(), expected_calls(name, -5, false));
    expect_colour_of(colour, name, -5);
  }
}

TEST_F(Shader, ElementsWithoutANameGetTheColourOfTheEmptyName) {
  name_instance(nullptr, 3);  // the lookup finds no name
  expect_colour_of(shade(), "", 3);
  EXPECT_EQ(calls(), expected_calls("", 3, false));

  setup_.instance.item = 0;  // the instance names no element
  name_instance("unused", 3);
  expect_colour_of(shade(), "", 3);
  std::vector<Call> expected = expected_calls("", 3, false);
  expected.erase(expected.begin() + 1);  // no lookup of tag 0
  EXPECT_EQ(calls(), expected);
  EXPECT_EQ(host_.pins(), 0);

  // The renderer has no record for the instance: nothing was pinned, so
  // nothing is unpinned, and no name is looked up.
  host_.reset();
  setup_.set_parameters(3, 0);
  expect_colour_of(shade(), "", 3);
  expected = expected_calls("", 3, false);
  expected.erase(expected.begin() + 1, expected.begin() + 3);
  EXPECT_EQ(calls(), expected);
}

TEST_F(Shader, ConnectedParametersAreEvaluatedByTheRenderer) {
  for (std::int32_t offset : {16, -24, 64}) {
    name_instance("vase", 5, 0);
    setup_.connect(0, offset, 77);  // seed connected
    const std::int32_t evaluated_seed = 4242;
    host_.set_evaluated(&evaluated_seed);
    const host::Colour colour = shade();
    std::vector<Call> expected = {evaluation(&setup_.parameters()->seed)};
    for (const Call& c : expected_calls("vase", 4242, false))
      expected.push_back(c);
    EXPECT_EQ(calls(), expected) << offset;
    expect_colour_of(colour, "vase", 4242);
    setup_.connect(0, offset, 0);
  }
}

TEST_F(Shader, ConnectedGrayscaleIsEvaluatedAfterTheSeed) {
  name_instance("vase", 5, 0);
  setup_.connect(0, 32, 1);
  setup_.connect(4, 32, 1);
  const std::int32_t evaluated = 1;  // both read 1: seed 1, grayscale on
  host_.set_evaluated(&evaluated);
  shade();
  std::vector<Call> expected = {evaluation(&setup_.parameters()->seed),
                                evaluation(&setup_.parameters()->grayscale)};
  for (const Call& c : expected_calls("vase", 1, true)) expected.push_back(c);
  EXPECT_EQ(calls(), expected);
}

TEST_F(Shader, UnconnectedParametersAreNeverEvaluated) {
  name_instance("vase", 5, 0);
  setup_.connect(0, 32, 0);  // an offset, but no connection tag
  shade();
  EXPECT_EQ(calls(), expected_calls("vase", 5, false));
  setup_.connect(0, 0, 77);  // a tag, but no offset
  name_instance("vase", 5, 0);
  shade();
  EXPECT_EQ(calls(), expected_calls("vase", 5, false));
}

TEST_F(Shader, FailedEvaluationKeepsTheStoredValue) {
  name_instance("vase", 5, 0);
  setup_.connect(0, 32, 77);
  host_.set_evaluated(nullptr);
  expect_colour_of(shade(), "vase", 5);
}

TEST_F(Shader, InstanceZeroIsReportedAndShadedBlackWithoutPinning) {
  name_instance("never", 1);
  setup_.state.instance = 0;
  std::string report;
  const host::Colour colour = shade(&report);
  EXPECT_NE(report.find("state->instance"), std::string::npos) << report;
  EXPECT_NE(report.find("shader/ravelTint.cpp"), std::string::npos) << report;
#if defined(_WIN32)
  EXPECT_NE(report.find("line 26"), std::string::npos) << report;
#else
  EXPECT_NE(report.find(":26:"), std::string::npos) << report;
#endif
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
  EXPECT_EQ(colour.red, 0.0f);
  EXPECT_EQ(colour.green, 0.0f);
  EXPECT_EQ(colour.blue, 0.0f);
  EXPECT_TRUE(calls().empty());
}

// Every thread keeps its own generator in the host, as renderers do; the
// library shares nothing between the calls but its resolved slots.
TEST_F(Shader, ManyThreadsShadeAtOnce) {
  constexpr int kThreads = 8;
  const char* names[kThreads] = {
      "a",     "bb",    "ccc",     "dddd",
      "table", "chair", "lamp_01", "a much longer name of an object"};
  std::deque<ShadingSetup> setups;
  for (int t = 0; t < kThreads; ++t) {
    setups.emplace_back(100 + t, 200 + t);
    host_.put(100 + t, &setups[t].instance, nullptr);
    host_.put(200 + t, nullptr, names[t]);
    setups[t].set_parameters(t, 0);
  }
  library().set_module_handle(host_.module);  // every first call races
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      const host::Colour expected{expected_channel(names[t], t, 11),
                                  expected_channel(names[t], t, 21),
                                  expected_channel(names[t], t, 31), 1.0f};
      for (int i = 0; i < 2000; ++i) {
        host::Colour colour{};
        library().shade(&colour, setups[t].render_state(),
                        setups[t].parameters());
        wrong[t] += std::memcmp(&colour, &expected, sizeof colour) != 0;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
  EXPECT_EQ(host_.pins(), 0);
}

// Shades the teapot with a connected seed (so that mi_phen_eval is wanted)
// once through `host`, which may lack functions or be no module at all.
struct Outcome {
  host::Colour colour;
  std::int32_t result;
  std::string report;
};

Outcome shade_with(const Host& host) {
  library().set_module_handle(host.module);
  ShadingSetup setup(kInstance, kItem);
  if (host.put) {
    host.put(kInstance, &setup.instance, nullptr);
    host.put(kItem, nullptr, "teapot");
  }
  setup.set_parameters(8, 0);
  setup.connect(0, 40, 1);
  if (host.set_evaluated) host.set_evaluated(nullptr);
  Outcome outcome{{-1, -1, -1, -1}, 0, {}};
  outcome.report = testing_support::stderr_of([&] {
    outcome.result = library().shade(&outcome.colour, setup.render_state(),
                                     setup.parameters());
  });
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.colour.alpha, 1.0f);
  return outcome;
}

// A renderer that lacks a function the shader calls: the shader reports the
// lookup, never crashes and still answers.
class ShaderWithIncompleteHost : public testing::TestWithParam<int> {};

TEST_P(ShaderWithIncompleteHost, StillShadesWithoutReadingThroughNull) {
  const int omitted = GetParam();
  const char* missing[] = {"mi_phen_eval",      "mi_db_access", "mi_db_unpin",
                           "mi_api_tag_lookup", "mi_srandom",   "mi_random"};
  const Host host = sh::open("shader_host_without_" + std::to_string(omitted));
  host.reset();
  const Outcome outcome = shade_with(host);
  EXPECT_NE(
      outcome.report.find(std::string("dlsym failed on \"") + missing[omitted]),
      std::string::npos)
      << outcome.report;
  if (omitted == 1 || omitted == 3) {  // no record, or no name: empty name
    EXPECT_EQ(outcome.colour.red, expected_channel("", 8, 11));
  }
}

INSTANTIATE_TEST_SUITE_P(EachMissingFunction, ShaderWithIncompleteHost,
                         testing::Values(0, 1, 2, 3, 4, 5));

// No renderer module at all: every call is a failed lookup, reported in two
// lines, and nothing runs, not even a complete host in the process's global
// scope or the renderer functions this program exports itself.
TEST(ShaderWithoutAModule, LooksNothingUpAndStillShades) {
#if !defined(_WIN32)
  ASSERT_NE(dlopen(support::module_path("shader_host").c_str(),
                   RTLD_NOW | RTLD_GLOBAL),
            nullptr);
#endif
  decoy::calls = 0;
  const Outcome outcome = shade_with(Host{});
  std::string expected;
  for (const char* name :
       {"mi_phen_eval", "mi_db_access", "mi_srandom", "mi_random", "mi_srandom",
        "mi_random", "mi_srandom", "mi_random"})
    expected += std::string("DYNLOAD: dl_handle null\n") +
                "dlsym failed on \"" + name +
                "\" (handle: 00000000 error: 127)\n";
  EXPECT_EQ(outcome.report, expected);
  EXPECT_EQ(decoy::calls, 0);
  EXPECT_EQ(outcome.colour.red, 0.0f);  // mi_random is missing too
}

}  // namespace
