// Cryptomatte and unmixing: the published hash, the layout that keyers read,
// and coverages recovered from a flat ID image against the reference host's
// own count of every object's samples.
#include "tools/matte/matte.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "tests/support/refhost_runs.h"
#include "tests/support/spawn.h"
#include "tools/common/cryptomatte.h"
#include "tools/common/exr_file.h"
#include "tools/common/quoting.h"
#include "tools/matte/selection.h"

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
    EXPECT_EQ(common::murmur3_32(name, 0), std::stoul(hash, nullptr, 16))
        << name;
    EXPECT_EQ(common::cryptomatte_id(name), std::stoul(id, nullptr, 16))
        << name;
    EXPECT_EQ(common::id_float(common::cryptomatte_id(name)),
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

// An image of the host renderer is keyed by name with the colour record
// that the library wrote while rendering it, as well as with the reference
// host's manifest: the same matte, byte for byte.
TEST(Selection, ColourRecordKeysAnImageByName) {
  std::filesystem::remove_all("record");
  std::filesystem::create_directory("record");
#if defined(_WIN32)
  const std::string refhost = data_file("refhost.exe");
#else
  const std::string refhost = data_file("refhost");
#endif
  ASSERT_EQ(testing_support::wait_for(testing_support::start(
                {refhost, "--samples", "2", "--out", "host.png", "--manifest",
                 "host.json"},
                "RAVELTINT_RECORD", "record/%h.%p.jsonl")),
            0);
  for (const auto& [key, matte] : {std::pair{"record", "by_record.png"},
                                   std::pair{"host.json", "by_manifest.png"}}) {
    const Outcome out = run(
        matte::run,
        {"host.png", "--manifest", key, "--select", "chair_*", "--out", matte});
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_NE(out.out.find("selected 4 objects"), std::string::npos) << out.out;
  }
  EXPECT_EQ(read_file("by_record.png"), read_file("by_manifest.png"));
}

// The reference host's truth: ranked layers with their keys, every
// pixel's coverages summing to its alpha, the largest first.
TEST(Cryptomatte, ReferenceHostWritesRankedLayersAndTheirManifest) {
  const Outcome rendered =
      run(refhost::run, {"--scene", data_file("small_scene.json"), "--samples",
                         "4", "--out", "t.png", "--manifest", "t.json",
                         "--cryptomatte", "truth.exr", "--ranks", "4"});
  ASSERT_EQ(rendered.status, 0) << rendered.err;
  const common::ExrImage truth = common::read_exr("truth.exr");
  EXPECT_TRUE(truth.channels.count("CryptoObject01.A"));
  EXPECT_FALSE(truth.channels.count("CryptoObject02.R"));
  const std::string key = "cryptomatte/3ae39a5/";
  EXPECT_EQ(truth.attributes.at(key + "name"), "CryptoObject");
  EXPECT_EQ(truth.attributes.at(key + "hash"), "MurmurHash3_32");
  EXPECT_EQ(truth.attributes.at(key + "conversion"), "uint32_to_float32");
  const auto read = common::read_cryptomatte(truth);
  EXPECT_EQ(read.ids.size(), 5u);  // every name of the scene
  for (const auto& [name, id] : read.ids)
    EXPECT_EQ(id, common::cryptomatte_id(name));
  const auto& alpha = truth.channels.at("A");
  const auto& first = truth.channels.at("CryptoObject00.G");
  const auto& second = truth.channels.at("CryptoObject00.A");
  for (std::size_t p = 0; p < read.pixels.size(); ++p) {
    float sum = 0;
    for (const auto& [id, c] : read.pixels[p]) sum += c;
    EXPECT_FLOAT_EQ(sum, alpha[p]) << p;
    EXPECT_GE(first[p], second[p]) << p;
  }
}

// How far an estimate's Cryptomatte lies from the truth's, over every pixel
// where some object's coverage lies strictly between 0 and 1. Objects that
// share a colour are one entry, under the ID that the estimate's manifest
// gives each of their names.
struct Accuracy {
  std::size_t edges = 0, over = 0;  // pixels, and those off by over 0.05
  double sum = 0, worst = 0;
  std::size_t pairs = 0;
  double mean() const { return pairs ? sum / pairs : 0; }
  double share_over() const { return edges ? double(over) / edges : 0; }
};

Accuracy accuracy_of(const std::string& truth_path,
                     const std::string& estimate_path) {
  const auto truth = common::read_cryptomatte(common::read_exr(truth_path));
  const auto found = common::read_cryptomatte(common::read_exr(estimate_path));
  std::map<std::uint32_t, std::uint32_t> as_found;
  for (const auto& [name, id] : truth.ids)
    if (found.ids.count(name)) as_found[id] = found.ids.at(name);
  Accuracy a;
  for (std::size_t p = 0; p < truth.pixels.size(); ++p) {
    std::map<std::uint32_t, double> merged, all;
    bool edge = false;
    for (const auto& [id, c] : truth.pixels[p]) {
      edge = edge || (c > 0 && c < 1);
      merged[as_found.count(id) ? as_found[id] : id] += c;
    }
    if (!edge) continue;
    ++a.edges;
    all = merged;
    for (const auto& [id, c] : found.pixels[p]) all.emplace(id, 0.0);
    double worst = 0;
    for (const auto& [id, ignored] : all) {
      const double t = merged.count(id) ? merged[id] : 0;
      const auto f = found.pixels[p].find(id);
      const double e =
          std::fabs(t - (f == found.pixels[p].end() ? 0 : f->second));
      a.sum += e;
      ++a.pairs;
      worst = std::max(worst, e);
    }
    a.over += worst > 0.05;
    a.worst = std::max(a.worst, worst);
  }
  return a;
}

// Unmixed from the float image alone, every edge pixel's coverage is the
// truth's, where the exact-colour key misses the whole edge: in a small
// scene, and in a crowd where most colours share two channels with the floor
// and one another, so that three or four of them mix on a line or a plane.
TEST(Unmixing, FloatImageGivesTheCountedCoverage) {
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
    EXPECT_NE(unmixed.out.find("samples per pixel: 16, as the manifest says"),
              std::string::npos)
        << unmixed.out;
    EXPECT_NE(unmixed.out.find(", 0 pixels unexplained"), std::string::npos)
        << unmixed.out;
    if (std::string(scene) == "small_scene.json") {  // all a colour's names
      EXPECT_NE(unmixed.out.find("one colour, #6b6b6b, for \"floor\", "
                                 "\"prop_07\", \"prop_16\": no matte parts "
                                 "them"),
                std::string::npos)
          << unmixed.out;
    }
    const Accuracy a = accuracy_of("u_truth.exr", "u_unmixed.exr");
    EXPECT_GT(a.edges, 100u);
    EXPECT_LE(a.worst, 1e-6);
  }
  // The matte of prop_07 and prop_00 (and the floor's grey props) holds
  // their summed coverage, as the Cryptomatte gives it.
  const auto found =
      common::read_cryptomatte(common::read_exr("u_unmixed.exr"));
  const common::ExrImage props = common::read_exr("props.exr");
  const auto& values = props.channels.at("A");
  const std::uint32_t p00 = common::cryptomatte_id("prop_00");
  const std::uint32_t grey = common::cryptomatte_id("floor");
  for (std::size_t p = 0; p < values.size(); ++p) {
    const auto& c = found.pixels[p];
    EXPECT_EQ(values[p], (c.count(p00) ? c.at(p00) : 0.0f) +
                             (c.count(grey) ? c.at(grey) : 0.0f));
  }
}

// A real renderer's images (Blender's Cycles, float sums, a pixel filter,
// its own Cryptomatte as the truth): each unmixed within its precision, the
// samples per pixel told from the image where it can tell them, and the
// matte, the Cryptomatte and the masks one reading of every pixel.
TEST(Unmixing, RealRendererImagesWithinTheirPrecision) {
  // Each render as float, half and 8-bit PNG, with the most mean error and
  // share of pixels off by more than 0.05 that each may show.
  const struct {
    const char *render, *encoding, *samples;
    double mean, over;
  } cases[] = {
      {"bh16", "", "16, told", 0, 0},
      {"bh16", ".half", "16, told", 0, 0},
      {"bh16", ".png", "16, told", 2e-3, 0.002},
      {"box16", "", "16, told", 0, 0},
      {"box16", ".png", "16, told", 1e-3, 0.002},
      {"bh64", "", "64, told", 1e-4, 0.001},
      {"bh64", ".half", "64, told", 2e-3, 0.005},
      {"bh64", ".png", "64, told", 1e-2, 0.01},
      {"bh256", "", "256, told", 1e-4, 0.001},
      {"bh256", ".half", "256, told", 2e-3, 0.005},
      {"bh256", ".png", "not told", 2e-2, 0.04},
      {"box256", "", "256, told", 1e-4, 0.001},
      {"box256", ".half", "256, told", 2e-3, 0.005},
      {"box256", ".png", "not told", 1e-2, 0.02},
  };
  for (const auto& c : cases) {
    const std::string truth = data_file("blender/" + std::string(c.render));
    const bool png = std::string(c.encoding) == ".png";
    const std::string file = truth + c.encoding + (png ? "" : ".exr");
    SCOPED_TRACE(file);
    const Outcome out =
        run(matte::run, {file, "--manifest", data_file("blender/palette.json"),
                         "--cryptomatte", "r.exr", "--select", "pole_thin_*",
                         "--out", "r_matte.exr", "--inferred", "r_inferred.exr",
                         "--unexplained", "r_unexplained.exr"});
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_NE(out.out.find(std::string("samples per pixel: ") + c.samples),
              std::string::npos)
        << out.out;
    // Blender's float file holds its Cryptomatte beside the image, and the
    // image's layer is the one of colour; the float image is exact where at
    // most four objects meet.
    if (!*c.encoding) {
      EXPECT_NE(out.out.find("layer \"ViewLayer.Combined\""),
                std::string::npos);
      EXPECT_NE(out.out.find(", 0 pixels unexplained"), std::string::npos);
    }
    const Accuracy a = accuracy_of(truth + ".exr", "r.exr");
    EXPECT_GT(a.edges, 800u);
    EXPECT_LE(a.mean(), c.mean);
    EXPECT_LE(a.share_over(), c.over);
    // One reading behind every output: the matte is the Cryptomatte's
    // coverage of what it selects, and the masks count what the report
    // counts.
    const auto crypto = common::read_cryptomatte(common::read_exr("r.exr"));
    const common::ExrImage matte_file = common::read_exr("r_matte.exr");
    const auto& matte = matte_file.channels.at("A");
    for (std::size_t p = 0; p < matte.size(); ++p) {
      double sum = 0;
      for (int pole = 1; pole <= 4; ++pole) {
        const auto id =
            common::cryptomatte_id("pole_thin_" + std::to_string(pole));
        if (crypto.pixels[p].count(id)) sum += crypto.pixels[p].at(id);
      }
      EXPECT_NEAR(matte[p], sum, 1e-6) << p;
    }
    for (const auto& [mask, words] :
         {std::pair{"r_inferred.exr", " decided by neighbours"},
          std::pair{"r_unexplained.exr", " unexplained"}}) {
      const common::ExrImage file = common::read_exr(mask);
      const auto& values = file.channels.at("A");
      const auto marked = std::count(values.begin(), values.end(), 1.0f);
      // "N decided by neighbours", "N pixels unexplained"
      std::string before = out.out.substr(0, out.out.find(words));
      if (before.size() > 6 &&
          before.compare(before.size() - 6, 6, " pixel") == 0)
        before.resize(before.size() - 6);
      if (before.size() > 7 &&
          before.compare(before.size() - 7, 7, " pixels") == 0)
        before.resize(before.size() - 7);
      EXPECT_EQ(std::to_string(marked), before.substr(before.rfind(' ') + 1))
          << mask;
    }
  }
  // Without a manifest, the values that the renderer's sums scatter are one
  // colour each, never two colours of one hex.
  const Outcome found = run(matte::run, {data_file("blender/bh64.exr"),
                                         "--cryptomatte", "found.exr"});
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_NE(found.out.find("merged into one"), std::string::npos) << found.out;
  const auto ids = common::read_cryptomatte(common::read_exr("found.exr")).ids;
  EXPECT_GT(ids.size(), 20u);
  for (const auto& [name, id] : ids)
    EXPECT_EQ(name.find('-'), std::string::npos) << name;
}

// A file of `bytes`.
void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The small scene's PNG with its bytes from `at` on replaced by `tail`, or
// cut there where `tail` is empty.
std::string small_png_changed(std::size_t at, const std::string& tail) {
  return read_file(data_file("small_scene.png")).substr(0, at) + tail;
}

// Every mistake is one line and its status, and nothing is written; every
// odd input that is no mistake is read as it means, or warned of.
TEST(MatteErrors, BadInputsAreRefused) {
  const std::string png = data_file("small_scene.png");
  const std::string manifest = data_file("small_scene.manifest.json");
  const std::string small = read_file(png);
  write_file("not_an_image.exr", "text");
  write_file("m.json", "{}");
  write_file("null_objects.json",
             R"({"manifest_version": 2, "objects": null})");
  write_file("map_objects.json", R"({"manifest_version": 2, "objects": {}})");
  write_file("twice.json", R"({"manifest_version": 2, "manifest_version": 2,
                               "objects": []})");
  write_file("long_name.json",
             R"({"manifest_version": 2, "objects": [{"name": ")" +
                 std::string(1 << 20, 'x') +
                 R"(", "colour": [0.5, 0.5, 0.5]}]})");
  const std::size_t srgb_chunk = 33;  // after the signature and IHDR
  write_file("head_only.png", small.substr(0, 33));
  write_file("cut_100.png", small.substr(0, 100));
  write_file("no_iend.png", small.substr(0, small.size() - 12));
  write_file("huge_chunk.png",
             small_png_changed(srgb_chunk, std::string("\xff\xff\xff\xf0", 4) +
                                               small.substr(srgb_chunk + 4)));
  // Re-saved by a tool that dropped the sRGB chunk but kept gAMA and cHRM.
  write_file("lost_srgb.png",
             small_png_changed(srgb_chunk, "") + small.substr(srgb_chunk + 13));
  write_file("man.png", read_file(manifest));
  // Colour records: one name with two seeds is two colours of that name;
  // one seed with two colours means two renderers' records were mixed.
  const std::string header =
      R"({"ravelTint_record": 1, "shader_version": 2, "host": "n", "process": 7})"
      "\n";
  const auto object = [](const char* name, int seed, const char* colour) {
    return std::string(R"({"name": ")") + name + R"(", "seed": )" +
           std::to_string(seed) + R"(, "grayscale": false, "colour": )" +
           colour + "}\n";
  };
  const char* lamp = "[0.8282034, 0.14564872, 0.90313905]";
  const char* prop = "[0.1907813, 0.14564872, 0.14564872]";
  write_file("seeds.jsonl",
             header + object("lamp", 0, lamp) + object("lamp", 5, prop));
  write_file("mixed.jsonl",
             header + object("lamp", 0, lamp) + object("lamp", 0, prop));
  write_file("future.jsonl", R"({"ravelTint_record": 9})"
                             "\n");
  std::filesystem::create_directories("records");
  write_file("records/a.jsonl", header + object("lamp", 0, lamp));
  write_file("records/notes.txt", "not a record");
  std::filesystem::create_directories("folder.png");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string words, absent = "";
  } cases[] = {
      {{}, 2, "IMAGE is required"},
      // --version answers wherever it stands, and alone.
      {{"--version", "--threads", "2"}, 0, "ravelTint-matte ", "error"},
      {{png, "--version"}, 0, "ravelTint-matte ", "pixels"},
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
      {{"sh#t/a.png", "--frames", "1-2"},
       2,
       "must be in the image's file name"},
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
      {{png, "--manifest", "m.json"}, 1, "\"m.json\": not a manifest"},
      {{png, "--manifest", "null_objects.json"},
       1,
       "\"null_objects.json\": not a manifest (its \"objects\" is not a list"},
      {{png, "--manifest", "map_objects.json"},
       1,
       "\"map_objects.json\": not a manifest (its \"objects\" is not a list"},
      {{png, "--manifest", "twice.json"},
       1,
       "not a manifest (the key \"manifest_version\" is given twice"},
      {{png, "--manifest", manifest, "--select", "lampp"},
       2,
       "--select \"lampp\": matches no object; the nearest name is \"lamp\""},
      // The nearest name shortened, as the pattern is.
      {{png, "--manifest", "long_name.json", "--select", "y"},
       2,
       "the nearest name is \"xxxx"},
      // Brackets are a set of characters, never a list of options.
      {{png, "--manifest", manifest, "--select", "[lamp]"},
       2,
       "--select \"[lamp]\": matches no object"},
      {{png, "--manifest", manifest, "--select", "[]", "--out", "m.png"},
       2,
       "--select \"[]\": matches no object"},
      {{png, "--manifest", manifest, "--select", "lamp", "--select=prop_00",
        "--out", "two.png"},
       0,
       "selected 2 objects: \"prop_00\", \"lamp\""},
      {{png, "--layer", "ViewLayer.Combined"},
       2,
       "--layer \"ViewLayer.Combined\": "},
      {{"head_only.png"},
       1,
       "\"head_only.png\": not a readable PNG image (truncated: it ends before "
       "its image data)"},
      {{"cut_100.png"},
       1,
       "(truncated: its \"cHRM\" chunk claims 32 bytes, and the file holds 26 "
       "more)"},
      {{"no_iend.png"}, 1, "(truncated: it ends before its IEND chunk)"},
      {{"huge_chunk.png"},
       1,
       "its \"sRGB\" chunk claims 4294967280 bytes, more than a PNG chunk may "
       "hold"},
      {{"lost_srgb.png", "--manifest", manifest},
       0,
       "its gAMA of 1/2.2 beside the sRGB primaries is read as the sRGB curve"},
      {{png, "--unexplained", "u_folder.png", "--out", "folder.png", "--select",
        "lamp", "--manifest", manifest},
       2,
       "--out \"folder.png\": exists and is not a regular file; "
       "ravelTint-matte "
       "replaces regular files only"},
      {{png, "--manifest", "man.png", "--select", "lamp", "--out", "man.png"},
       2,
       "--out \"man.png\": is a manifest or record read"},
      // What no matte parts, named up to a bound and counted beyond it.
      {{png, "--manifest", "crowd.json"},
       0,
       "    and 2 more colours, each of several names\n  \"lamp\" and "
       "\"near_1a\": colours too close for a 8-bit PNG to part their mix"},
      {{png, "--manifest", "seeds.jsonl", "--select", "lamp", "--out", "s.png"},
       0,
       "the records hold 1 name, 1 of them in this image"},
      {{png, "--manifest", "seeds.jsonl", "--select", "lamp", "--out", "s.png"},
       0,
       "selected 2 objects: \"lamp\", \"lamp\""},
      {{png, "--manifest", "mixed.jsonl"},
       1,
       "\"lamp\" (seed 0) has two colours, [0.8282034, 0.14564872, "
       "0.90313905] (\"mixed.jsonl\", line 2) and [0.1907813, 0.14564872, "
       "0.14564872] (\"mixed.jsonl\", line 3): records from two different "
       "renderers' generators were mixed"},
      {{png, "--manifest", "future.jsonl"},
       1,
       "\"future.jsonl\": a colour record of version 9, which this tool does "
       "not read (it reads version 1)"},
      {{png, "--manifest", "records"},
       1,
       "notes.txt\": not a colour record; a folder given to --manifest holds "
       "records alone"},
      // A manifest of another render: warned of, and used as asked.
      {{png, "--manifest", "twin.json", "--unexplained", "twin.png"},
       0,
       "warning: " + common::quote(png) +
           ": 3894 of 3894 covered pixels fit no colour of "
           "\"twin.json\"; is that this image's manifest?"},
      {{data_file("blender/bh16.exr"), "--layer", "Combined"},
       1,
       "bh16.exr\": no layer \"Combined\" of R, G and B; its layers: "
       "\"ViewLayer.Combined\", \"ViewLayer.CryptoObject00\""},
      {{"two_layers.exr"},
       1,
       "\"two_layers.exr\": several layers of R, G and B (\"a\", \"b\"); "
       "choose one with --layer"},
      // Damaged EXR files, refused for the same reason on every target.
      {{"exr_cut_100.exr"},
       1,
       "\"exr_cut_100.exr\": not a readable EXR image (truncated: it ends "
       "inside its header)"},
      {{"exr_cut_table.exr"},
       1,
       "(truncated: it ends inside its table of chunks)"},
      {{"exr_cut_end.exr"}, 1, "(truncated: it ends inside its pixel data)"},
      {{"exr_huge_window.exr"},
       1,
       "(truncated: it ends inside its table of chunks)"},
      {{"exr_corrupt.exr"}, 1, "(its pixel data cannot be decoded)"},
      {{"exr_compression_42.exr"}, 1, "(an unknown compression, number 42)"},
      // A size that disagrees with its type would part the walks of the
      // header by size and by type.
      {{"exr_long_window.exr"},
       1,
       "(its attribute \"dataWindow\" of type box2i holds 17 bytes, not 16)"},
      {{"exr_depth_only.exr"},
       1,
       "\"exr_depth_only.exr\": no layer of R, G and B for an ID image; its "
       "layers: (the unnamed layer)"},
      // Pixels that are not numbers fit no colour, and are none.
      {{"nan.exr", "--manifest", manifest}, 0, ", 100 pixels unexplained"},
      {{"nan.exr"}, 0, "pixels", "#ffffff"},
  };
  {
    // Twelve colours of several names, nine of them close to the lamp's.
    json crowd = json::parse(read_file(manifest));
    for (int k = 1; k <= 20; ++k)
      for (const char* twin : {"a", "b"})
        crowd["objects"].push_back(
            {{"name", "near_" + std::to_string(k) + twin},
             {"colour", {0.8282034 - 0.004 * k, 0.14564872, 0.90313905}}});
    write_file("crowd.json", crowd.dump());
    json twin = json::parse(read_file(manifest));
    for (json& object : twin["objects"])
      object["colour"] = {0.5, 0.25, object["colour"][0]};
    write_file("twin.json", twin.dump());
  }
  {
    const std::string exr = read_file(data_file("small_scene.exr"));
    // Where the header ends, its last attribute being screenWindowWidth,
    // and the chunks begin.
    const std::string last("screenWindowWidth\0float\0\4\0\0\0", 28);
    const std::size_t table = exr.find(last) + last.size() + 4 + 1;
    const std::size_t first_chunk = table + 8 * 4;
    write_file("exr_cut_100.exr", exr.substr(0, 100));
    write_file("exr_cut_table.exr", exr.substr(0, table + 12));
    write_file("exr_cut_end.exr", exr.substr(0, exr.size() - 10));
    std::string huge = exr;
    const std::string data_window("dataWindow\0box2i\0\x10\0\0\0", 21);
    huge.replace(huge.find(data_window) + data_window.size() + 8, 8,
                 std::string("\x2f\x75\0\0\x2f\x75\0\0", 8));  // 29999
    write_file("exr_huge_window.exr", huge);
    std::string long_window = exr;
    long_window[long_window.find(data_window) + data_window.size() - 4] = 17;
    write_file("exr_long_window.exr", long_window);
    std::string corrupt = exr;
    for (std::size_t i = first_chunk + 20; i < first_chunk + 40; ++i)
      corrupt[i] = static_cast<char>(~corrupt[i]);
    write_file("exr_corrupt.exr", corrupt);
    std::string compression = exr;
    const std::string code("compression\0compression\0\1\0\0\0", 28);
    compression[compression.find(code) + code.size()] = 42;
    write_file("exr_compression_42.exr", compression);
  }
  std::vector<float> zeros(4, 0.0f);
  common::ExrPicture depth;
  depth.width = depth.height = 2;
  depth.channels.push_back({"Z", zeros.data(), 1});
  write_file("exr_depth_only.exr", common::exr_bytes(depth));
  common::ExrPicture two;
  two.width = two.height = 2;
  for (const char* name : {"a.R", "a.G", "a.B", "b.R", "b.G", "b.B"})
    two.channels.push_back({name, zeros.data(), 1});
  write_file("two_layers.exr", common::exr_bytes(two));
  ASSERT_EQ(run(refhost::run,
                {"--scene", data_file("small_scene.json"), "--samples", "2",
                 "--out", "n.png", "--manifest", "n.json", "--exr", "n.exr"})
                .status,
            0);
  common::ExrImage n = common::read_exr("n.exr");
  for (std::size_t p = 0; p < 100; ++p)
    n.channels.at(p % 2 ? "R" : "G")[p * 37] = p % 3 ? std::nanf("") : INFINITY;
  common::ExrPicture nan;
  nan.width = n.width, nan.height = n.height;
  for (const auto& [name, values] : n.channels)
    nan.channels.push_back({name, values.data(), 1});
  write_file("nan.exr", common::exr_bytes(nan));
  for (const auto& c : cases) {
    const Outcome outcome = run(matte::run, c.args);
    EXPECT_EQ(outcome.status, c.status) << c.words << ": " << outcome.err;
    const std::string said = outcome.err + outcome.out;
    EXPECT_NE(said.find(c.words), std::string::npos)
        << said << " lacks " << c.words;
    if (!c.absent.empty()) {
      EXPECT_EQ(said.find(c.absent), std::string::npos) << said;
    }
    if (c.status == 0) continue;
    EXPECT_EQ(outcome.err.rfind("ravelTint-matte: error: ", 0), 0u)
        << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1);
    EXPECT_LT(outcome.err.size(), 1000u);
  }
  EXPECT_FALSE(exists("m.png"));
  EXPECT_FALSE(exists("u_folder.png"));
  EXPECT_EQ(read_file("man.png"), read_file(manifest));
}

// One image stored every lossless way a third party's tool writes EXR
// (scanlines of every compression, tiles, a part after another part, half)
// reads as the same pixels; a lossy compression is refused by name.
TEST(ExrFiles, ReadAlikeWhateverTheirStorage) {
  const common::ExrRgba zip =
      common::read_exr_rgba(data_file("exr/corner.zip.exr"));
  for (const char* storage :
       {"none", "rle", "zips", "piz", "tiled", "parts", "half"}) {
    SCOPED_TRACE(storage);
    const common::ExrRgba read = common::read_exr_rgba(
        data_file(std::string("exr/corner.") + storage + ".exr"));
    ASSERT_EQ(read.rgba.size(), zip.rgba.size());
    EXPECT_EQ(read.half, std::string(storage) == "half");
    for (std::size_t i = 0; i < zip.rgba.size(); ++i)
      if (read.half)
        ASSERT_NEAR(read.rgba[i], zip.rgba[i], 1e-3 * zip.rgba[i]) << i;
      else
        ASSERT_EQ(read.rgba[i], zip.rgba[i]) << i;
  }
  for (const char* lossy : {"pxr24", "b44", "b44a", "dwaa", "dwab"}) {
    const Outcome outcome = run(
        matte::run, {data_file(std::string("exr/corner.") + lossy + ".exr")});
    EXPECT_EQ(outcome.status, 1);
    std::string name = lossy;
    for (char& c : name) c = static_cast<char>(std::toupper(c));
    EXPECT_NE(
        outcome.err.find("\": compressed with " + name + ", which is lossy"),
        std::string::npos)
        << outcome.err;
  }
}

// Every file of the EXR fuzzers' corpus is an image or one line of refusal,
// with the decoder of this build.
TEST(ExrFiles, FuzzCorpusIsReadOrRefusedInOneLine) {
  std::size_t files = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(data_file("exr_corpus"))) {
    const Outcome outcome = run(matte::run, {entry.path().u8string()});
    ++files;
    if (outcome.status == 0) continue;
    EXPECT_EQ(outcome.status, 1) << entry.path();
    EXPECT_EQ(outcome.err.rfind("ravelTint-matte: error: ", 0), 0u)
        << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1)
        << outcome.err;
  }
  EXPECT_GT(files, 8u);
}

// A frame that fails is named, the others are done, and the status says so;
// frame numbers may be padded, and a range far beyond the files on disk
// names the first few missing frames and counts the rest.
TEST(MatteFrames, OneFailedFrameStopsNoOther) {
  const std::string png = read_file(data_file("small_scene.png"));
  write_file("shot.0001.png", png);
  write_file("shot.0003.png", png);
  const struct {
    std::string range, done;
    std::size_t lines;  // on standard error
  } ranges[] = {
      {"1-3", "2 frames of 3 done, 1 failed", 1},
      {"0001-0003", "2 frames of 3 done, 1 failed", 1},
      {"1-999999999", "2 frames of 999999999 done, 999999997 failed", 6},
  };
  for (const auto& r : ranges) {
    std::filesystem::remove("lamp.0001.png");
    std::filesystem::remove("lamp.0003.png");
    const Outcome outcome =
        run(matte::run, {"shot.####.png", "--frames", r.range, "--manifest",
                         data_file("small_scene.manifest.json"), "--select",
                         "lamp", "--out", "lamp.####.png"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.find("ravelTint-matte: error: frame 2: "
                               "\"shot.0002.png\": no such file\n"),
              0u)
        << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'),
              static_cast<long>(r.lines))
        << outcome.err;
    EXPECT_NE(outcome.out.find(r.done), std::string::npos) << outcome.out;
    EXPECT_TRUE(exists("lamp.0001.png"));
    EXPECT_TRUE(exists("lamp.0003.png"));
  }
}

// A crop of a frame keeps its place: every output has the image's data and
// display windows, so mattes land where the image lies.
TEST(MatteOutputs, KeepTheImagesWindows) {
  ASSERT_EQ(run(refhost::run,
                {"--scene", data_file("small_scene.json"), "--samples", "2",
                 "--out", "w.png", "--manifest", "w.json", "--exr", "w.exr"})
                .status,
            0);
  const common::ExrRgba whole = common::read_exr_rgba("w.exr");
  common::ExrPicture crop;
  crop.width = 40, crop.height = 30;
  crop.windows = {20, 10, true, 0, 0, whole.width - 1, whole.height - 1};
  const float* first = &whole.rgba[4 * (10 * whole.width + 20)];
  std::vector<float> rows;
  for (int y = 0; y < crop.height; ++y)
    rows.insert(rows.end(), first + 4 * y * whole.width,
                first + 4 * (y * whole.width + crop.width));
  for (int c = 0; c < 4; ++c)
    crop.channels.push_back({std::string(1, "RGBA"[c]), &rows[c], 4});
  write_file("crop.exr", common::exr_bytes(crop));
  ASSERT_EQ(
      run(matte::run, {"crop.exr", "--manifest", "w.json", "--select", "lamp",
                       "--out", "crop_lamp.exr", "--cryptomatte", "crop_c.exr"})
          .status,
      0);
  for (const char* out : {"crop_lamp.exr", "crop_c.exr"}) {
    const common::ExrWindows w = common::read_exr(out).windows;
    EXPECT_EQ(
        std::vector<int>(
            {w.x, w.y, w.display_x0, w.display_y0, w.display_x1, w.display_y1}),
        std::vector<int>({20, 10, 0, 0, whole.width - 1, whole.height - 1}))
        << out;
  }
}

}  // namespace
