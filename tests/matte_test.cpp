// Cryptomatte and unmixing: the published hash, the layout that keyers read,
// and coverages recovered from a flat ID image against the reference host's
// own count of every object's samples.
#include "tools/matte/matte.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "tests/refhost_runs.h"
#include "tools/matte/selection.h"
#include "tools/refhost/cryptomatte.h"
#include "tools/refhost/exr_file.h"

namespace {

using namespace refhost_runs;

// Runs `program` (refhost::run or matte::run) in this process.
template <typename Run>
Outcome run(Run program, std::vector<std::string> args) {
  return testing_support::run_captured(program, "program", std::move(args));
}

// The published vectors: the hash, the ID a file stores, and a layer key.
TEST(Cryptomatte, IdsAreThePublishedHashOfTheName) {
  std::ifstream vectors(data_file("murmur3_vectors.tsv"));
  ASSERT_TRUE(vectors);
  std::string line;
  int rows = 0;
  while (std::getline(vectors, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("name\t", 0) == 0)
      continue;
    std::istringstream fields(line.substr(line.find('\t') + 1));
    const std::string name = line.substr(0, line.find('\t'));
    std::string hash, id;
    double as_float = 0;
    fields >> hash >> id >> as_float;
    EXPECT_EQ(refhost::murmur3_32(name, 0), std::stoul(hash, nullptr, 16))
        << name;
    EXPECT_EQ(refhost::cryptomatte_id(name), std::stoul(id, nullptr, 16))
        << name;
    EXPECT_EQ(refhost::id_float(refhost::cryptomatte_id(name)),
              static_cast<float>(as_float))
        << name;
    ++rows;
  }
  EXPECT_GE(rows, 20);
}

TEST(Selection, PatternsMatchWholeNames) {
  const struct {
    const char *pattern, *name;
    bool matches;
  } cases[] = {
      {"chair_*", "chair_left_seat", true},
      {"chair_*", "armchair_1", false},
      {"*_0?", "book_01", true},
      {"*_0?", "book_011", false},
      {"book_0[12]", "book_02", true},
      {"book_0[!12]", "book_02", false},
      {"b[a-c]ll", "ball", true},
      {"\\*", "*", true},
      {"*", "", true},
      {"日本*", "日本語", true},
      {"?", "é", true},
      {"[", "[", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(matte::matches(c.pattern, c.name), c.matches)
        << c.pattern << " " << c.name;
}

#if !defined(_WIN32)
// Each pixel's objects as IDs with their coverage, from a file's layers.
std::vector<std::map<std::uint32_t, float>> ranks_of(
    const refhost::ExrImage& image, int* layers = nullptr) {
  std::vector<std::map<std::uint32_t, float>> pixels(
      static_cast<std::size_t>(image.width) * image.height);
  int layer = 0;
  for (;; ++layer) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "CryptoObject%02d.", layer);
    const auto at = [&](const char* c) -> const std::vector<float>* {
      const auto it = image.channels.find(prefix + std::string(c));
      return it == image.channels.end() ? nullptr : &it->second;
    };
    if (!at("R")) break;
    for (std::size_t p = 0; p < pixels.size(); ++p) {
      if ((*at("G"))[p] > 0)
        pixels[p][refhost::id_bits((*at("R"))[p])] += (*at("G"))[p];
      if ((*at("A"))[p] > 0)
        pixels[p][refhost::id_bits((*at("B"))[p])] += (*at("A"))[p];
    }
  }
  if (layers) *layers = layer;
  return pixels;
}

// The reference host's truth: ranked layers with their keys, every
// pixel's coverages summing to its alpha, the largest first.
TEST(Cryptomatte, ReferenceHostWritesRankedLayersAndTheirManifest) {
  const Outcome rendered =
      run(refhost::run, {"--scene", data_file("small_scene.json"), "--samples",
                         "4", "--out", "t.png", "--manifest", "t.json",
                         "--cryptomatte", "truth.exr", "--ranks", "4"});
  ASSERT_EQ(rendered.status, 0) << rendered.err;
  const refhost::ExrImage truth = refhost::read_exr("truth.exr");
  int layers = 0;
  const auto pixels = ranks_of(truth, &layers);
  EXPECT_EQ(layers, 2);
  const std::string key = "cryptomatte/3ae39a5/";
  EXPECT_EQ(truth.attributes.at(key + "name"), "CryptoObject");
  EXPECT_EQ(truth.attributes.at(key + "hash"), "MurmurHash3_32");
  EXPECT_EQ(truth.attributes.at(key + "conversion"), "uint32_to_float32");
  const json manifest = json::parse(truth.attributes.at(key + "manifest"));
  EXPECT_EQ(manifest.size(), 5u);  // every name of the scene
  for (const auto& item : manifest.items())
    EXPECT_EQ(std::stoul(item.value().get<std::string>(), nullptr, 16),
              refhost::cryptomatte_id(item.key()));
  const auto& alpha = truth.channels.at("A");
  const auto& first = truth.channels.at("CryptoObject00.G");
  const auto& second = truth.channels.at("CryptoObject00.A");
  for (std::size_t p = 0; p < pixels.size(); ++p) {
    float sum = 0;
    for (const auto& [id, c] : pixels[p]) sum += c;
    EXPECT_FLOAT_EQ(sum, alpha[p]) << p;
    EXPECT_GE(first[p], second[p]) << p;
  }
}

// Unmixed from the float image alone, every edge pixel's coverage is the
// truth's, where the exact-colour key misses the whole edge: in a small
// scene, and in a crowd where most colours share two channels with the floor
// and one another, so that three or four of them mix on a line or a plane.
TEST(Unmixing, FloatImageGivesTheCountedCoverage) {
  int edges = 0;
  std::vector<std::map<std::uint32_t, float>> found;
  // The small scene last: its matte is checked below.
  for (const auto& [scene, select] :
       {std::pair{"crowded_scene.json", "floor"},
        std::pair{"small_scene.json", "prop_0?"}}) {
    SCOPED_TRACE(scene);
    ASSERT_EQ(
        run(refhost::run, {"--scene", data_file(scene), "--samples", "4",
                           "--out", "u.png", "--manifest", "u.json", "--exr",
                           "u.exr", "--cryptomatte", "u_truth.exr"})
            .status,
        0);
    const Outcome unmixed =
        run(matte::run, {"u.exr", "--cryptomatte", "u_unmixed.exr", "--select",
                         select, "--out", "props.exr"});
    ASSERT_EQ(unmixed.status, 0) << unmixed.err;
    EXPECT_NE(unmixed.out.find(", 0 pixels unexplained"), std::string::npos)
        << unmixed.out;
    const refhost::ExrImage file = refhost::read_exr("u_unmixed.exr");
    const auto truth = ranks_of(refhost::read_exr("u_truth.exr"));
    found = ranks_of(file);
    // Objects of one colour are one entry, under one ID that the manifest
    // gives each of their names.
    std::map<std::uint32_t, std::uint32_t> entry_of;
    const json manifest =
        json::parse(file.attributes.at("cryptomatte/3ae39a5/manifest"));
    for (const auto& item : manifest.items())
      entry_of[refhost::cryptomatte_id(item.key())] =
          static_cast<std::uint32_t>(
              std::stoul(item.value().get<std::string>(), nullptr, 16));
    edges = 0;
    for (std::size_t p = 0; p < truth.size(); ++p) {
      bool edge = false;
      for (const auto& [id, c] : truth[p]) edge = edge || c < 1;
      if (!edge) continue;
      ++edges;
      std::map<std::uint32_t, float> merged;
      for (const auto& [id, c] : truth[p]) merged[entry_of.at(id)] += c;
      for (const auto& [id, c] : merged)
        EXPECT_NEAR(found[p].count(id) ? found[p].at(id) : 0.0f, c, 1e-6) << p;
    }
  }
  EXPECT_GT(edges, 100);
  // The matte of prop_07 and prop_00 holds their summed coverage.
  const refhost::ExrImage matte = refhost::read_exr("props.exr");
  const auto& values = matte.channels.at("A");
  const std::uint32_t p00 = refhost::cryptomatte_id("prop_00");
  const std::uint32_t grey = refhost::cryptomatte_id("floor");
  for (std::size_t p = 0; p < values.size(); ++p)
    EXPECT_NEAR(values[p],
                (found[p].count(p00) ? found[p].at(p00) : 0.0f) +
                    (found[p].count(grey) ? found[p].at(grey) : 0.0f),
                1e-6);
}
#endif

// Every mistake is one line and its status; nothing is written.
TEST(MatteErrors, BadInputsAreRefused) {
  std::ofstream("not_an_image.exr", std::ios::binary) << "text";
  std::ofstream("m.json", std::ios::binary) << "{}";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string words;
  } cases[] = {
      {{}, 2, "IMAGE is required"},
      {{"a.png", "b.png"},
       2,
       "\"b.png\": not an option; ravelTint-matte takes"},
      {{"a.png", "--out", "m.png"}, 2, "--out: a matte needs --select"},
      {{"a.png", "--select", "x", "--out", "m.tif"},
       2,
       "--out \"m.tif\": expected a file name ending in .exr or .png"},
      {{"a.png", "--cryptomatte", "c.png"},
       2,
       "--cryptomatte \"c.png\": expected a file name ending in .exr"},
      {{"shot.####.png"}, 2, "give --frames FIRST-LAST"},
      {{"a.png", "--frames", "10-2"}, 2, "--frames \"10-2\": expected"},
      {{"shot.#.png", "--frames", "1-2", "--unexplained", "u.png"},
       2,
       "\"u.png\": with --frames, each output needs a # run"},
      {{"a.png", "--ranks", "3", "--cryptomatte", "c.exr"},
       2,
       "--ranks \"3\": expected an even number from 2 to 16"},
      {{"no_such.png"}, 1, "\"no_such.png\": no such file"},
      {{"not_an_image.exr"},
       1,
       "\"not_an_image.exr\": neither an EXR nor a PNG"},
      {{data_file("small_scene.png"), "--manifest", "m.json"},
       1,
       "\"m.json\": not a manifest"},
      {{data_file("small_scene.png"), "--manifest",
        data_file("small_scene.manifest.json"), "--select", "lampp"},
       2,
       "--select \"lampp\": matches no object; the nearest name is \"lamp\""},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run(matte::run, c.args);
    EXPECT_EQ(outcome.status, c.status) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("ravelTint-matte: error: ", 0), 0u)
        << outcome.err;
    EXPECT_NE(outcome.err.find(c.words), std::string::npos)
        << outcome.err << " lacks " << c.words;
  }
}

// A frame that fails is named, the others are done, and the status says so.
TEST(MatteFrames, OneFailedFrameStopsNoOther) {
  std::ifstream source(data_file("small_scene.png"), std::ios::binary);
  const std::string png((std::istreambuf_iterator<char>(source)),
                        std::istreambuf_iterator<char>());
  std::ofstream("shot.0001.png", std::ios::binary) << png;
  std::ofstream("shot.0003.png", std::ios::binary) << png;
  const Outcome outcome =
      run(matte::run, {"shot.####.png", "--frames", "1-3", "--manifest",
                       data_file("small_scene.manifest.json"), "--select",
                       "lamp", "--out", "lamp.####.png"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("frame 2: \"shot.0002.png\": no such file"),
            std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.out.find("2 frames of 3 done, 1 failed"), std::string::npos)
      << outcome.out;
  EXPECT_TRUE(std::ifstream("lamp.0001.png").good());
  EXPECT_TRUE(std::ifstream("lamp.0003.png").good());
}

}  // namespace
