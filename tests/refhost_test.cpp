// The reference host end to end, in-process: it loads the real library by
// path and hands it this test program's own module, which exports the six
// renderer functions just as the refhost executable does.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image.h>

#include "tests/support/module.h"
#include "tools/refhost/run.h"

namespace {

using nlohmann::json;
using testing_support::module_path;
using testing_support::program_directory;

std::string data_file(const std::string& name) {
  return program_directory() + "/" + name;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  return static_cast<bool>(std::ifstream(path, std::ios::binary));
}

struct Outcome {
  int status;
  std::string out, err;
};

// Runs the reference host with `args` after the program name.
Outcome run(std::vector<std::string> args) {
  args.insert(args.begin(), "refhost");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = refhost::run(static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  return {status, testing::internal::GetCapturedStdout(),
          testing::internal::GetCapturedStderr()};
}

// A render of the small scene into files named after `stem`.
Outcome render_small(const std::string& stem,
                     std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--scene",    data_file("small_scene.json"),
                                   "--samples",  "2",
                                   "--out",      stem + ".png",
                                   "--manifest", stem + ".json"};
  args.insert(args.end(), extra.begin(), extra.end());
  return run(args);
}

struct Png {
  int width = 0, height = 0;
  std::vector<unsigned char> rgba;
};

Png read_png(const std::string& path) {
  Png png;
  int channels = 0;
  unsigned char* data =
      stbi_load(path.c_str(), &png.width, &png.height, &channels, 4);
  if (data) {
    png.rgba.assign(data, data + png.width * png.height * 4);
    stbi_image_free(data);
  }
  return png;
}

TEST(ReferenceHost, PixelsShowTheManifestColoursAndPinsBalance) {
  const Outcome outcome = render_small("e2e");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const json manifest = json::parse(read_file("e2e.json"));
  const Png png = read_png("e2e.png");
  ASSERT_EQ(png.width, 96);
  ASSERT_EQ(png.height, 64);

  std::set<std::string> colours, seen;
  for (const auto& object : manifest["objects"])
    colours.insert(object["hex"].get<std::string>());
  // Inside an object (a pixel whose neighbours all equal it, fully covered),
  // every sample hit the same object, so the pixel shows its colour exactly.
  auto pixel = [&](int x, int y) {
    const unsigned char* p = &png.rgba[(y * png.width + x) * 4];
    return std::array<unsigned char, 4>{p[0], p[1], p[2], p[3]};
  };
  for (int y = 1; y + 1 < png.height; ++y) {
    for (int x = 1; x + 1 < png.width; ++x) {
      const auto centre = pixel(x, y);
      bool inside = centre[3] == 255;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          inside = inside && pixel(x + dx, y + dy) == centre;
      if (!inside) continue;
      char hex[8];
      std::snprintf(hex, sizeof hex, "#%02x%02x%02x", centre[0], centre[1],
                    centre[2]);
      EXPECT_TRUE(colours.count(hex)) << hex << " at " << x << "," << y;
      seen.insert(hex);
    }
  }
  EXPECT_EQ(seen, colours);  // every object is in view
}

// The files of both targets are compared with the same expected files, so
// the Linux and the Windows builds write the same bytes.
TEST(ReferenceHost, OutputsAreTheSameOnEveryTarget) {
  ASSERT_EQ(render_small("same").status, 0);
  EXPECT_TRUE(read_file("same.png") == read_file(data_file("small_scene.png")));
  EXPECT_EQ(read_file("same.json"),
            read_file(data_file("small_scene.manifest.json")));
}

TEST(ReferenceHost, ResultsDoNotDependOnThreads) {
  ASSERT_EQ(render_small("one", {"--threads", "1"}).status, 0);
  ASSERT_EQ(render_small("four", {"--threads", "4"}).status, 0);
  EXPECT_TRUE(read_file("one.png") == read_file("four.png"));
}

TEST(ReferenceHost, ConnectedSeedIsEvaluatedPerObject) {
  ASSERT_EQ(render_small("connected").status, 0);
  ASSERT_EQ(render_small("seed77", {"--seed", "77"}).status, 0);
  const json connected = json::parse(read_file("connected.json"));
  const json seed77 = json::parse(read_file("seed77.json"));
  // "lamp" carries its own seed 77, the others take the shader's.
  EXPECT_EQ(connected["objects"][4]["seeds"], seed77["objects"][4]["seeds"]);
  EXPECT_NE(connected["objects"][3]["seeds"], seed77["objects"][3]["seeds"]);
}

TEST(ReferenceHost, ReportsObjectsWhoseSeedsAreAllEqual) {
  const Outcome outcome = render_small("groups");
  ASSERT_EQ(outcome.status, 0);
  const json manifest = json::parse(read_file("groups.json"));
  // Every channel of these three names hashes past the float threshold.
  ASSERT_EQ(manifest["collisions"].size(), 1u);
  EXPECT_EQ(manifest["collisions"][0]["objects"],
            json({"floor", "prop_07", "prop_16"}));
  EXPECT_EQ(manifest["collisions"][0]["seeds"],
            json({INT32_MIN, INT32_MIN, INT32_MIN}));
  EXPECT_TRUE(manifest["objects"][1]["grey"].get<bool>());
  EXPECT_EQ(manifest["objects"][1]["hex"], manifest["objects"][2]["hex"]);
  EXPECT_NE(outcome.out.find("floor, prop_07, prop_16 (the same grey)"),
            std::string::npos)
      << outcome.out;
}

TEST(ReferenceHost, SearchFindsASeedWithoutGroups) {
  const Outcome outcome = render_small("search", {"--search", "20"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("leaves 0 groups"), std::string::npos)
      << outcome.out;
  const json manifest = json::parse(read_file("search.json"));
  EXPECT_TRUE(manifest["collisions"].empty());
  EXPECT_NE(manifest["shader"]["seed"], 0);
}

// Each failure is one line on standard error and a non-zero exit.
void expect_failure(const Outcome& outcome, const std::string& part) {
  EXPECT_NE(outcome.status, 0);
  EXPECT_EQ(outcome.err.rfind("refhost: error: ", 0), 0u) << outcome.err;
  EXPECT_NE(outcome.err.find(part), std::string::npos) << outcome.err;
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1)
      << outcome.err;
}

TEST(ReferenceHostErrors, MissingOrWrongLibrary) {
  expect_failure(render_small("x", {"--library", "no_such_library.so"}),
                 "cannot load the library no_such_library.so");
  expect_failure(
      render_small("x", {"--library", module_path("generic_host_a")}),
      "not a ravelTint library (no ravelTint_version)");
  expect_failure(render_small("x", {"--library", module_path("fake_library")}),
                 "shader version 3, but this host needs version 2");
}

TEST(ReferenceHostErrors, BadSceneFileNamesTheFileAndThePlace) {
  std::ofstream("broken.json") << "{\n  \"objects\": [\n    {\"name\": }\n]}";
  expect_failure(run({"--scene", "broken.json"}),
                 "broken.json: line 3, column 14: invalid JSON");
  std::ofstream("cone.json")
      << R"({"objects": [{"name": "a", "shape": "sphere", "position": [0, 0, 0]},
                         {"name": "b", "shape": "cone", "position": [0, 0, 0]}]})";
  expect_failure(run({"--scene", "cone.json"}), "cone.json: objects[1].shape");
  std::ofstream("seed.json")
      << R"({"objects": [], "shader": {"seed": 4294967296}})";
  expect_failure(run({"--scene", "seed.json"}), "seed.json: shader.seed");
  expect_failure(run({"--scene", "no_such_scene.json"}),
                 "no_such_scene.json: cannot read the scene file");
}

TEST(ReferenceHostErrors, UnwritableOutputLeavesNothingBehind) {
  std::remove("kept.json");
  expect_failure(render_small("no_such_dir/out"),
                 "cannot write no_such_dir/out.png");
  expect_failure(run({"--scene", data_file("small_scene.json"), "--out",
                      "kept.png", "--manifest", "no_such_dir/m.json"}),
                 "cannot write no_such_dir/m.json");
  EXPECT_FALSE(exists("no_such_dir/m.json.partial"));
  EXPECT_FALSE(exists("kept.json"));
}

TEST(ReferenceHostErrors, BadOptions) {
  expect_failure(run({"--samples", "0"}), "--samples");
  expect_failure(run({"--size", "12by4"}), "--size must be WIDTHxHEIGHT");
  expect_failure(run({"--bogus"}), "--bogus");
}

}  // namespace
