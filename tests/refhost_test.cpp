// The reference host end to end, in-process: it loads the real library by
// path and hands it this test program's own module, which exports the six
// renderer functions just as the refhost executable does.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
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

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "support/module.hpp"
#include "tests/support/stderr_capture.h"
#include "tools/refhost/outputs.h"
#include "tools/refhost/platform.h"
#include "tools/refhost/render.h"
#include "tools/refhost/report.h"
#include "tools/refhost/run.h"

namespace {

using nlohmann::json;
using support::module_path;
using support::program_directory;

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

using testing_support::Outcome;

// Runs the reference host with `args` after the program name.
Outcome run(std::vector<std::string> args) {
  return testing_support::run_captured(refhost::run, "refhost",
                                       std::move(args));
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

  // PNG alpha is straight: a pixel that grey objects only partly cover shows
  // their grey itself (#6b6b6b), not a darker premultiplied one.
  int partial_greys = 0;
  for (int i = 0; i < png.width * png.height; ++i) {
    const unsigned char* p = &png.rgba[i * 4];
    if (p[3] == 0 || p[3] == 255 || p[0] != p[1] || p[1] != p[2]) continue;
    EXPECT_EQ(p[0], 0x6b) << "pixel " << i << " alpha " << int(p[3]);
    ++partial_greys;
  }
  EXPECT_GT(partial_greys, 0);
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
  EXPECT_EQ(connected["objects"][4]["seed"], 77);  // recorded as shaded
  EXPECT_EQ(connected["objects"][3]["seed"], 0);
  EXPECT_NE(connected["objects"][3]["seeds"], seed77["objects"][3]["seeds"]);
}

TEST(ReferenceHost, ReportsObjectsWhoseSeedsAreAllEqual) {
  const Outcome outcome = render_small("groups");
  ASSERT_EQ(outcome.status, 0);
  const json manifest = json::parse(read_file("groups.json"));
  // Every channel of these three names hashes past the float threshold.
  ASSERT_EQ(manifest["collisions"].size(), 1u);
  EXPECT_EQ(manifest["collisions"][0]["objects"], json({0, 1, 2}));
  EXPECT_EQ(manifest["collisions"][0]["seeds"],
            json({INT32_MIN, INT32_MIN, INT32_MIN}));
  EXPECT_TRUE(manifest["objects"][1]["grey"].get<bool>());
  EXPECT_EQ(manifest["objects"][1]["hex"], manifest["objects"][2]["hex"]);
  EXPECT_NE(
      outcome.out.find("\"floor\", \"prop_07\", \"prop_16\" (the same grey)"),
      std::string::npos)
      << outcome.out;
}

// Objects with different seeds may still share an 8-bit colour in the image;
// a compositor cannot tell them apart either.
TEST(ReferenceHost, ReportsObjectsThatShareAColourInTheImage) {
  const Outcome outcome =
      run({"--seed", "3", "--size", "32x18", "--samples", "1", "--out",
           "seed3.png", "--manifest", "seed3.json"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const json manifest = json::parse(read_file("seed3.json"));
  EXPECT_TRUE(manifest["collisions"].empty());
  ASSERT_EQ(manifest["colour_groups"].size(), 1u);
  EXPECT_EQ(manifest["colour_groups"][0]["hex"], "#6bed6b");
  EXPECT_EQ(manifest["colour_groups"][0]["objects"], json({9, 17}));
  EXPECT_NE(outcome.out.find("#6bed6b: \"apple_02\", \"chair_left_seat\""),
            std::string::npos)
      << outcome.out;
}

TEST(ReferenceHost, SearchFindsASeedWithoutGroups) {
  const Outcome outcome = render_small("search", {"--search", "20"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("leaves 0 objects sharing seeds, 0 sharing a "
                             "colour and 0 touching pairs closer than 2"),
            std::string::npos)
      << outcome.out;
  const json manifest = json::parse(read_file("search.json"));
  EXPECT_TRUE(manifest["collisions"].empty());
  EXPECT_NE(manifest["shader"]["seed"], 0);
  for (const auto& pair : manifest["close_pairs"])
    EXPECT_FALSE(pair["touching"].get<bool>());
}

// Colours no eye or keyer can separate are reported, though their 8-bit
// values differ: at seed 37, table_leg_bl #6c6bf6 and chair_left_seat.
TEST(ReferenceHost, ReportsColoursTooCloseToKey) {
  const Outcome outcome = run({"--size", "160x90", "--samples", "1", "--out",
                               "close.png", "--manifest", "close.json"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const json manifest = json::parse(read_file("close.json"));
  EXPECT_EQ(manifest["close_threshold"], 2.0);
  const json& pairs = manifest["close_pairs"];
  const auto pair = std::find_if(pairs.begin(), pairs.end(), [](const json& p) {
    return p["objects"] == json({6, 17});
  });
  ASSERT_NE(pair, pairs.end()) << pairs;
  EXPECT_EQ((*pair)["difference"], 0.47);
  EXPECT_FALSE((*pair)["touching"].get<bool>());
  EXPECT_NE(outcome.out.find("\"table_leg_bl\" and \"chair_left_seat\": 0.47"),
            std::string::npos)
      << outcome.out;
  for (const auto& object : manifest["objects"])
    EXPECT_LE(object["pixels"].get<double>(), object["coverage"].get<double>());
}

// However many pairs are close, at most kMaxClosePairs are kept, the
// touching ones first and then the closest, and the rest are counted.
TEST(ReferenceHost, ClosePairsAreBounded) {
  std::vector<refhost::ObjectColour> objects(150);
  std::vector<refhost::Coverage> coverage(objects.size(), {1, 0});
  for (std::size_t i = 0; i < objects.size(); ++i)
    objects[i].colour = {static_cast<float>(i % 15) / 30,
                         static_cast<float>(i / 15) / 20, 0.3f, 1};
  const refhost::Touching touching = {{0, 149}};
  const refhost::ClosePairs close =
      refhost::find_close_pairs(objects, coverage, touching, 100);
  // The touching pair, then the closest of the others (closer than 100).
  std::vector<double> others;
  for (std::size_t a = 0; a < objects.size(); ++a)
    for (std::size_t b = a + 1; b < objects.size(); ++b) {
      const double d = refhost::ciede2000(refhost::lab_of(objects[a].colour),
                                          refhost::lab_of(objects[b].colour));
      if (d < 100 && !(a == 0 && b == 149)) others.push_back(d);
    }
  std::sort(others.begin(), others.end());
  EXPECT_EQ(close.found(), others.size() + 1);
  EXPECT_EQ(close.pairs.size(), refhost::kMaxClosePairs);
  EXPECT_FALSE(close.touching_only);
  const double cut = others[refhost::kMaxClosePairs - 2];
  for (const refhost::ClosePair& pair : close.pairs) {
    if (pair.touching) {
      EXPECT_EQ(std::make_pair(pair.first, pair.second),
                std::make_pair(std::size_t{0}, std::size_t{149}));
      continue;
    }
    EXPECT_LE(pair.difference, cut);
  }
}

// The published CIEDE2000 test data, to its four decimals.
TEST(ColourDifference, MatchesThePublishedPairs) {
  std::ifstream pairs(data_file("ciede2000_pairs.tsv"));
  ASSERT_TRUE(pairs);
  std::string line;
  int rows = 0;
  while (std::getline(pairs, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    refhost::Lab a, b;
    double expected = 0;
    fields >> a[0] >> a[1] >> a[2] >> b[0] >> b[1] >> b[2] >> expected;
    EXPECT_NEAR(refhost::ciede2000(a, b), expected, 0.00005) << line;
    EXPECT_NEAR(refhost::ciede2000(b, a), expected, 0.00005) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 34);
}

#if !defined(_WIN32)
// The float image carries the shader's colours bit for bit and its own key.
TEST(ReferenceHost, ExrHoldsExactFloatsAndTheManifest) {
  ASSERT_EQ(render_small("float", {"--exr", "float.exr"}).status, 0);
  Imf::InputFile file("float.exr");
  const auto* key = file.header().findTypedAttribute<Imf::StringAttribute>(
      "ravelTint/manifest");
  ASSERT_NE(key, nullptr);
  // The same manifest, compact.
  EXPECT_EQ(json::parse(key->value()), json::parse(read_file("float.json")));
  EXPECT_EQ(key->value().find('\n'), std::string::npos);
  EXPECT_EQ(key->value().find("\": "), std::string::npos);
  EXPECT_TRUE(Imf::hasChromaticities(file.header()));
  const Imath::Box2i window = file.header().dataWindow();
  const int width = window.max.x + 1, height = window.max.y + 1;
  std::vector<float> rgba(static_cast<std::size_t>(width) * height * 4);
  Imf::FrameBuffer frame;
  for (int c = 0; c < 4; ++c)
    frame.insert(std::string(1, "RGBA"[c]),
                 Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(&rgba[c]),
                            4 * sizeof(float), 4 * sizeof(float) * width));
  file.setFrameBuffer(frame);
  file.readPixels(0, height - 1);
  // The floor fills the bottom row; its colour is in the manifest.
  const json floor = json::parse(read_file("float.json"))["objects"][0];
  const float* pixel =
      &rgba[4 * static_cast<std::size_t>(width) * (height - 1)];
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(pixel[c], floor["colour"][c].get<float>());
  EXPECT_EQ(pixel[3], 1.0f);
}
#endif

struct BadInput {
  std::vector<std::string> args;
  int status;
  std::string words;  // in the one line on standard error
};

// The headers of a shared library for another machine (64-bit Arm).
std::string foreign_library() {
#if defined(_WIN32)
  std::string header(0x40 + 24, '\0');
  header.replace(0, 2, "MZ");
  header[0x3c] = 0x40;  // where the PE header begins
  header.replace(0x40, 4, std::string("PE\0\0", 4));
  header[0x44] = '\x64', header[0x45] = '\xaa';  // IMAGE_FILE_MACHINE_ARM64
#else
  std::string header(64, '\0');
  header.replace(0, 7,
                 "\x7f"
                 "ELF\x02\x01\x01");
  header[16] = 3;    // a shared object
  header[18] = 183;  // EM_AARCH64
#endif
  return header;
}

// While it lives, the process's standard input is the file `path`.
struct StandardInputFrom {
  explicit StandardInputFrom(const char* path) {
#if defined(_WIN32)
    saved = _dup(0);
    const int file = _open(path, _O_RDONLY | _O_BINARY);
    _dup2(file, 0);
    _close(file);
#else
    saved = dup(0);
    const int file = open(path, O_RDONLY | O_CLOEXEC);
    dup2(file, 0);
    close(file);
#endif
  }
  ~StandardInputFrom() {
#if defined(_WIN32)
    _dup2(saved, 0);
    _close(saved);
#else
    dup2(saved, 0);
    close(saved);
#endif
  }
  int saved;
};

// Every bad input is refused with one line on standard error and its exit
// status (2: the command line, 1: the scene, the library or an output), and
// leaves every file that was there as it was.
TEST(ReferenceHostErrors, BadInputsAreRefusedAndDestroyNothing) {
  const std::string library = read_file(module_path("ravelTint"));
  const std::map<std::string, std::string> files = {
      {"kept.png", "an earlier image"},
      {"kept.json", "an earlier manifest"},
      {"scene.json", read_file(data_file("small_scene.json"))},
      {"broken.json", "{\n  \"objects\": [\n    {\"name\": }\n]}"},
      {"nan.json", R"({"objects": [NaN]})"},
      {"huge.json", R"({"objects": [{"name": "a", "shape": "sphere",
                        "position": [1e400, 0, 0]}]})"},
      {"cut.json", R"({"objects": [{"name": "ab)"},
      {"utf8.json", "{\"objects\": [{\"name\": \"a\xff\"}]}"},
      {"camera.json", R"({"objects": [], "camera": 42})"},
      {"typo.json", R"({"objects": [{"name": "a", "shape": "box",
                        "positon": [0, 0, 0]}]})"},
      {"look.json", R"({"objects": [], "camera": {"lookAt": [0, 0, 0]}})"},
      {"case.json", R"({"objects": [], "shader": {"Seed": 3}})"},
      {"twice.json", "{\"objects\": [],\n \"objects\": []}"},
      {"zero_byte.json", std::string("{\"objects\": []}\0{\"x\": 1}", 24)},
      {"deep.json", "{\"objects\": " + std::string(100000, '[')},
      {"column.json", "{\"objects\": [{\"name\": \"\xc3\xa9\" x}]}"},
      {"long_key.json",
       "{\"objects\": [], \"" + std::string(100000, 'k') + "\": 1}"},
      {"cone.json", R"({"objects": [{"name": "b", "shape": "cone",
                        "position": [0, 0, 0]}]})"},
      {"large.json", R"({"objects": [{"name": "c", "shape": "box",
                         "position": [0, 0, 0], "size": [1, 2e9, 1]}]})"},
      {"seed.json", R"({"objects": [], "shader": {"seed": 4294967296}})"},
      {"nul_name.json", R"({"objects": [
         {"shape": "box", "name": "a\u0000b", "position": [0, 0, 0]}]})"},
      {"view.json", R"({"objects": [],
         "camera": {"position": [0, 0, 0], "look_at": [1e-170, 0, 0]}})"},
      {"nul_names.txt", std::string("a\n\xc3\xa9x\0y\n", 8)},
      {"lib_copy", library},
      {"bad_names.txt", "a\nb\n\xff\n"},
      {"bad_seed_names.txt", "a\t010\n"},
      {"names.txt", "a\nb\n"},
      {"stdin.png", "this program's standard input"},
      {"truncated_lib", library.substr(0, 4000)},
      {"aarch64_lib", foreign_library()},
  };
  std::filesystem::create_directories("a_folder");
  for (const auto& [name, text] : files)
    std::ofstream(name, std::ios::binary) << text;
#if !defined(_WIN32)
  std::filesystem::remove("dangling.png");
  std::filesystem::create_symlink("no_such_target.png", "dangling.png");
  std::filesystem::remove("loop.png");
  std::filesystem::create_symlink("loop.png", "loop.png");
  std::filesystem::remove("fifo_lib");
  ASSERT_EQ(mkfifo("fifo_lib", 0600), 0);
#endif
#if defined(_WIN32)
  const std::string program =
      support::program_directory() + "\\refhost_test.exe";
#else
  const std::string program = support::program_directory() + "/refhost_test";
#endif
  const std::vector<std::string> kept = {"--out", "kept.png", "--manifest",
                                         "kept.json"};
  auto with_kept = [&](std::vector<std::string> args) {
    args.insert(args.end(), kept.begin(), kept.end());
    return args;
  };
  auto with_out = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--out", "kept.png"});
    return args;
  };
  const BadInput cases[] = {
    {with_out({"--manifest", "scene.json", "--scene", "scene.json"}), 2,
     "--manifest \"scene.json\": is the scene file"},
    {{"--names", "names.txt", "--manifest", "names.txt"},
     2,
     "--manifest \"names.txt\": is the names file"},
    {with_out({"--manifest", "lib_copy", "--library", "lib_copy"}), 2,
     "--manifest \"lib_copy\": is the library"},
    {{"--manifest", program}, 2, "is this program"},
    {{"--out", "kept.png", "--manifest", "./kept.png"},
     2,
     "--manifest \"./kept.png\": is also --out"},
    {{"--out", "stdin.png", "--manifest", "kept.json"},
     2,
     "--out \"stdin.png\": is this program's standard input, output or "
     "error"},
    {with_out({"--manifest", "a_folder"}), 2,
     "--manifest \"a_folder\": exists and is not a regular file"},
#if !defined(_WIN32)
    {{"--out", "kept.png", "--manifest", "/dev/null"},
     2,
     "--manifest \"/dev/null\": exists and is not a regular file"},
    {with_out({"--manifest", "/dev/stdout"}), 2,
     "--manifest \"/dev/stdout\": names a stream of this process"},
    {with_out({"--manifest", "/proc/self/fd/2"}), 2,
     "names a stream of this process"},
    {{"--out", "dangling.png", "--manifest", "kept.json"},
     1,
     "cannot write --out \"dangling.png\": No such file or directory"},
    {{"--out", "loop.png", "--manifest", "kept.json"},
     1,
     "Too many levels of symbolic links"},
    {with_kept({"--library", "fifo_lib"}), 1,
     "\"fifo_lib\": not a regular file"},
#endif
    {{"--scene", "scene.json", "--out", "kept.png", "--manifest",
      "no_such_dir/m.json"},
     1,
     "cannot write --manifest \"no_such_dir/m.json\": no such folder"},
    {with_kept({"--size", "4294967297x10"}), 2,
     "--size \"4294967297x10\": expected WIDTHxHEIGHT, each a whole number "
     "from 1 to 16384"},
    {with_kept({"--size", "12by4"}), 2, "--size \"12by4\": expected"},
    {with_kept({"--size", "012x4"}), 2, "--size \"012x4\": expected"},
    {with_kept({"--size", ""}), 2, "--size \"\": expected"},
    {with_kept({"--seed", ""}), 2, "--seed \"\": expected a whole number"},
    {with_kept({"--seed", "010"}), 2,
     "--seed \"010\": expected a whole number from -2147483648 to 2147483647, "
     "in decimal without leading zeros"},
    {with_kept({"--seed", "abc\n\x1b[2J"}), 2, "--seed \"abc\\n\\u001b[2J\""},
    {with_kept({"--samples", "0x10"}), 2,
     "--samples \"0x10\": expected a whole number from 1 to 16"},
    {with_kept({"--threads", "+4"}), 2, "--threads \"+4\": expected"},
    {with_kept({"--search", std::string(200, '9')}), 2,
     "...\" (200 bytes): expected"},
    {with_kept({"--scene", ""}), 2, "--scene: must not be empty"},
    {{"--names", "bad_names.txt", "--manifest", "kept.json"},
     1,
     "\"bad_names.txt\": line 3: not valid UTF-8"},
    {{"--names", "bad_seed_names.txt", "--manifest", "kept.json"},
     1,
     "\"bad_seed_names.txt\": line 1: the seed after the tab must be"},
    {with_kept({"--names", "bad_names.txt"}), 2,
     "--out: --names renders nothing"},
    {with_kept({"--separate"}), 2, "--separate: works on --names only"},
    {with_kept({"--close", "0"}), 2,
     "--close \"0\": expected a number above 0"},
    {with_kept({"--library", ""}), 2, "--library: must not be empty"},
    {with_kept({"--samples", "0"}), 2, "--samples"},
    {with_kept({"--bogus"}), 2,
     "\"--bogus\": not an option of refhost; see --help"},
    {with_kept({"--sead", "1"}), 2, "(did you mean --seed?)"},
    {with_kept({"--out", "again.png"}), 2,
     "--out \"kept.png\": given twice (first \"again.png\"); expected once"},
    {with_kept({"--seed"}), 2, "--seed: expected a value after it"},
    {{"--out", "--manifest", "kept.json"}, 2, "--out: expected a value"},
    {with_kept({"--grayscale=maybe"}), 2,
     "--grayscale \"maybe\": expected true or false"},
    {with_kept({"one", "--", "two", "--three"}), 2,
     "\"one\", \"two\", \"--three\", \"--out\""},
    {{"--out", "t.EXR", "--manifest", "kept.json"},
     2,
     "--out \"t.EXR\": expected a file name ending in .png"},
    {with_kept({"--exr", "x.png"}), 2,
     "--exr \"x.png\": expected a file name ending in .exr"},
    {{"--names", "names.txt", "--close", "5", "--manifest", "kept.json"},
     2,
     "--close: --names renders nothing"},
    {with_kept({"--scene", "broken.json"}), 1,
     "\"broken.json\": line 3, column 14: syntax error while parsing value"},
    {with_kept({"--scene", "nan.json"}), 1,
     "\"nan.json\": line 1, column 14: syntax error while parsing value - "
     "invalid literal"},
    {with_kept({"--scene", "huge.json"}), 1,
     "\"huge.json\": line 2, column 38: number overflow parsing '1e400'"},
    {with_kept({"--scene", "cut.json"}), 1, "missing closing quote"},
    {with_kept({"--scene", "utf8.json"}), 1,
     "ill-formed UTF-8 byte; last read: '\"a\\xff'"},
    {with_kept({"--scene", "camera.json"}), 1,
     "\"camera.json\": camera: expected an object"},
    {with_kept({"--scene", "typo.json"}), 1,
     "\"typo.json\": objects[0]: unknown key \"positon\" (did you mean "
     "\"position\"?)"},
    {with_kept({"--scene", "look.json"}), 1,
     "camera: unknown key \"lookAt\" (did you mean \"look_at\"?)"},
    {with_kept({"--scene", "case.json"}), 1,
     "shader: unknown key \"Seed\" (did you mean \"seed\"?)"},
    {with_kept({"--scene", "twice.json"}), 1,
     "scene: duplicate key \"objects\" at line 2, column 2"},
    {with_kept({"--scene", "zero_byte.json"}), 1,
     "\"zero_byte.json\": line 1, column 16: a NUL byte"},
    {with_kept({"--scene", "deep.json"}), 1,
     "\"deep.json\": objects[0]: expected an object"},
    {with_kept({"--scene", "column.json"}), 1,
     "\"column.json\": line 1, column 27: syntax error"},
    {with_kept({"--scene", "long_key.json"}), 1, "kkk...\" (100000 bytes)\n"},
    {with_kept({"--scene", "cone.json"}), 1, "\"cone.json\": objects[0].shape"},
    {with_kept({"--scene", "large.json"}), 1,
     "objects[0].size[1]: sizes must be at most 1e9"},
    {with_kept({"--scene", "seed.json"}), 1, "\"seed.json\": shader.seed"},
    {with_kept({"--scene", "nul_name.json"}), 1,
     "\"nul_name.json\": line 2, column 35: objects[0].name: a name may not "
     "hold U+0000"},
    {with_kept({"--scene", "view.json"}), 1,
     "\"view.json\": line 2, column 20: camera: look_at is too near"},
    {{"--names", "nul_names.txt", "--manifest", "kept.json"},
     1,
     "\"nul_names.txt\": line 2, column 3: a NUL byte"},
    {with_kept({"--scene", "a_folder"}), 1,
     "\"a_folder\": is a directory, not a scene file"},
    {with_kept({"--scene", "no_such_scene.json"}), 1,
     "\"no_such_scene.json\": no such file"},
    {with_kept({"--library", "no_such_library.so"}), 1,
     "cannot load the library \"no_such_library.so\""},
    {with_kept({"--library", "truncated_lib"}), 1,
     "\"truncated_lib\": truncated: 4000 of "},
    {with_kept({"--library", "aarch64_lib"}), 1,
     "\"aarch64_lib\": not a library for x86-64"},
    {with_kept({"--library", module_path("generic_host_a")}), 1,
     "not a ravelTint library (no ravelTint_version)"},
    {with_kept({"--library", module_path("fake_library")}), 1,
     "shader version " + std::to_string(RAVELTINT_SHADER_VERSION + 1) +
         ", but this host needs version " +
         std::to_string(RAVELTINT_SHADER_VERSION)},
  };
  const StandardInputFrom standard_input("stdin.png");
  for (const BadInput& input : cases) {
    const Outcome outcome = run(input.args);
    EXPECT_EQ(outcome.status, input.status) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("refhost: error: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(input.words), std::string::npos)
        << outcome.err << " lacks " << input.words;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1)
        << outcome.err;
    for (const auto& [name, text] : files)
      EXPECT_EQ(read_file(name), text) << name << " after " << outcome.err;
  }
  EXPECT_TRUE(std::filesystem::is_directory("a_folder"));
#if !defined(_WIN32)
  EXPECT_TRUE(std::filesystem::is_symlink("dangling.png"));
#endif
}

// Holds a file as a live run holds its temporaries: locked on Linux, open
// without shared deletion on Windows.
struct LiveFile {
  explicit LiveFile(const std::string& path) {
    std::ofstream(path, std::ios::binary) << "a run still writing";
#if defined(_WIN32)
    file.open(path, std::ios::binary | std::ios::app);
#else
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    flock(fd, LOCK_EX);
#endif
  }
  ~LiveFile() {
#if !defined(_WIN32)
    close(fd);
#endif
  }
#if defined(_WIN32)
  std::ofstream file;
#else
  int fd;
#endif
};

// A run replaces the files it names, keeps their permissions, writes names as
// long as the system allows, and clears the temporaries that no live run
// holds, never one that a live run holds, whatever its process number (a
// run in a container may have this one's).
TEST(ReferenceHostErrors, OutputsKeepWhatTheyShouldAndLoseTheDead) {
  const std::string host = refhost::platform::host_name();
  const std::string dead = ".refhost-" + host + "-999999999.0.partial";
  std::ofstream(dead, std::ios::binary) << "left by a killed run";
  const std::string live = refhost::temporary_name(0);
  {
    const LiveFile held(live);
    std::ofstream("mine.png", std::ios::binary) << "old";
#if !defined(_WIN32)
    ASSERT_EQ(chmod("mine.png", 0600), 0);
#endif
    ASSERT_EQ(render_small("mine").status, 0);
    EXPECT_FALSE(exists(dead));
    EXPECT_TRUE(exists(live));
  }
  std::filesystem::remove(live);
#if !defined(_WIN32)
  struct stat status;
  ASSERT_EQ(stat("mine.png", &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  const std::string longest(250, 'n');  // and ".json": 255 bytes
  const Outcome outcome = render_small(longest);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(exists(longest + ".png"));
#endif
}

// The hierarchy finds exactly what testing every object finds, ties
// included: objects at the same place are hit in scene order.
TEST(ReferenceHost, HierarchyHitsWhatEveryObjectGives) {
  refhost::Scene scene;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> place(-6, 6), size(0.05, 1.5);
  for (int i = 0; i < 600; ++i) {
    refhost::Object o;
    o.shape = static_cast<refhost::Shape>(i % 3);
    o.position = {place(random), place(random) / 3, place(random)};
    const double s = size(random);
    o.size = {s, s * 0.5, s * 2};
    if (o.shape == refhost::Shape::kSphere) o.size = {s, s, s};
    scene.objects.push_back(o);
    if (i % 50 == 0) scene.objects.push_back(o);  // an exact twin
  }
  scene.camera = {{0, 3, 14}, {0, 0, 0}, 50};
  const refhost::Tracer tracer(scene, 160, 90);
  int hits = 0;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 160; ++x) {
      const auto expected = tracer.hit_every_object(x + 0.5, y + 0.5);
      EXPECT_EQ(tracer.hit(x + 0.5, y + 0.5), expected) << x << "," << y;
      hits += expected.has_value();
    }
  EXPECT_GT(hits, 5000);
}

TEST(ReferenceHost, GrayscaleFalseOverridesTheScene) {
  std::ofstream("grey.json", std::ios::binary)
      << R"({"shader": {"grayscale": true}, "image": {"width": 8, "height": 8},
            "objects": [{"name": "a", "shape": "sphere", "position": [0, 0, 0]}]})";
  const auto grey = [](const char* flag) {
    const Outcome outcome = run({"--scene", "grey.json", flag, "--out", "g.png",
                                 "--manifest", "g.json"});
    // One object, in words that agree with it.
    EXPECT_EQ(outcome.out.rfind("rendered 1 object at 8x8, 9 samples", 0), 0u)
        << outcome.out;
    return json::parse(read_file("g.json"))["shader"]["grayscale"];
  };
  EXPECT_EQ(grey("--grayscale=false"), false);
  EXPECT_EQ(grey("--grayscale"), true);
}

// Seed planning from names alone: the groups that share their seeds, the
// remedy, and a re-run with the seeds it gave that shows no shared seeds.
TEST(ReferenceHostNames, PlanSeedsAndSeparateTheShared) {
  {
    std::ofstream names("names.txt", std::ios::binary);
    names << "\xef\xbb\xbf";  // a byte-order mark, dropped
    for (int i = 0; i < 120; ++i) names << "prop_" << i << "\n";
    names << "prop_3\n"
          << "\r\n"             // a blank line, skipped
          << "lamp\t77\r\n\n";  // a twin, a seed of its own
  }
  const auto plan = [](std::vector<std::string> extra) {
    std::vector<std::string> args = {"--names", "names.txt", "--manifest",
                                     "plan.json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const Outcome outcome = run(args);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return json::parse(read_file("plan.json"));
  };
  const json shared = plan({});
  ASSERT_EQ(shared["objects"].size(), 122u);
  EXPECT_EQ(shared["objects"][0]["name"], "prop_0");
  EXPECT_EQ(shared["objects"][121]["name"], "lamp");
  EXPECT_EQ(shared["objects"][121]["seed"], 77);
  EXPECT_FALSE(shared["collisions"].empty());

  const json separated = plan({"--separate"});
  EXPECT_TRUE(separated["collisions"].empty());
  {
    std::ofstream names("names.txt", std::ios::binary);
    for (const auto& object : separated["objects"])
      names << object["name"].get<std::string>() << "\t"
            << object["seed"].get<int>() << "\n";
  }
  EXPECT_TRUE(plan({})["collisions"].empty());
  const Outcome searched =
      run({"--names", "names.txt", "--search", "3", "--manifest", "plan.json"});
  EXPECT_NE(searched.out.find("leaves 0 objects sharing their seeds"),
            std::string::npos)
      << searched.out;
}

#if !defined(_WIN32)
// ---- Whole runs of the refhost program, killed in the middle of their
// commit or racing each other.

pid_t spawn(const std::vector<std::string>& args) {
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1), dup2(null, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

int wait_for(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

std::vector<std::string> refhost_run(const std::string& stem,
                                     const std::string& seed) {
  return {program_directory() + "/refhost",
          "--scene",
          data_file("small_scene.json"),
          "--seed",
          seed,
          "--samples",
          "1",
          "--out",
          stem + ".png",
          "--manifest",
          stem + ".json"};
}

// Every destination is a whole file: the PNG one that a manifest names, and
// no temporary is left in the folder.
void expect_whole_pair(const std::string& stem) {
  const json manifest = json::parse(read_file(stem + ".json"));
  EXPECT_EQ(manifest["image"]["png"]["sha256"],
            refhost::platform::sha256_hex(read_file(stem + ".png")));
  for (const auto& entry : std::filesystem::directory_iterator("."))
    EXPECT_EQ(entry.path().filename().string().rfind(".refhost-", 0),
              std::string::npos)
        << entry.path();
}

// strace sends the signal itself, as the run enters its second rename: the
// image is in place, the manifest not yet. No process is looked for and
// nothing waits on the clock, so a loaded machine gives the same outcome.
TEST(ReferenceHostCommit, SurvivesASignalBetweenItsRenames) {
  if (std::system("strace -V >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "strace is not installed";
  const std::string renames = "rename,renameat,renameat2";
  for (const char* signal : {"SIGTERM", "SIGINT", "SIGKILL"}) {
    ASSERT_EQ(wait_for(spawn(refhost_run("killed", "1"))), 0);
    const std::string old_png = read_file("killed.png");
    const std::string old_manifest = read_file("killed.json");
    std::vector<std::string> args = {
        "strace", "-f",
        "-o",     "/dev/null",
        "-e",     "trace=" + renames,
        "-e",     "inject=" + renames + ":signal=" + signal + ":when=2"};
    for (const auto& a : refhost_run("killed", "2")) args.push_back(a);
    const int status = wait_for(spawn(args));
    EXPECT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) != 0) << signal;
    EXPECT_NE(read_file("killed.png"), old_png) << signal;
    if (std::string(signal) == "SIGKILL") {
      // Killed before its second rename: the new image beside the old,
      // whole manifest, and a temporary that the next run clears.
      EXPECT_EQ(read_file("killed.json"), old_manifest);
      ASSERT_EQ(wait_for(spawn(refhost_run("killed", "3"))), 0);
    } else {
      // The signal waited for the commit.
      EXPECT_NE(read_file("killed.json"), old_manifest) << signal;
    }
    expect_whole_pair("killed");
  }
}

// Runs that write the same outputs at once commit one after the other: the
// image and the manifest always come from the same run.
TEST(ReferenceHostCommit, RacingRunsLeaveAMatchingPair) {
  for (int round = 0; round < 100; ++round) {
    const pid_t a = spawn(refhost_run("raced", "4"));
    const pid_t b = spawn(refhost_run("raced", "5"));
    EXPECT_EQ(wait_for(a), 0);
    EXPECT_EQ(wait_for(b), 0);
    expect_whole_pair("raced");
  }
}

// What the machine refuses a run gets one clear line and an exit status,
// never an abort: a file size limit (a full disk), memory too small for the
// threads' stacks or the image, a full device as standard output.
TEST(ReferenceHostCommit, HostileConditionsGetOneClearAnswer) {
  struct Condition {
    std::string shell, args, out;
    int status;
    std::string said;
    bool needs_plain_build;  // address limits stop a sanitizer's runtime
  };
  const std::string small = " --scene " + data_file("small_scene.json");
  const Condition conditions[] = {
      {"ulimit -f 1; trap '' XFSZ;", small + " --out big.png", "/dev/null", 1,
       "refhost: error: cannot write --out \"big.png\": File too large", false},
      {"ulimit -v 1500000;", " --threads 300 --size 64x40 --out t.png",
       "/dev/null", 0,
       "could not start (Resource temporarily unavailable); working with",
       true},
      {"ulimit -v 600000;",
       " --size 6000x6000 --samples 1 --exr huge.exr --out huge.png",
       "/dev/null", 1, "refhost: error: out of memory", true},
      {"", " --version", "/dev/full", 1,
       "refhost: error: cannot write to standard output: No space left", false},
      {"", small + " --out full.png", "/dev/full", 1,
       "refhost: error: cannot write to standard output", false},
  };
  for (const Condition& c : conditions) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (c.needs_plain_build) continue;
#endif
    const std::string command = c.shell + program_directory() + "/refhost" +
                                c.args + " --manifest hostile.json 2>&1 >" +
                                c.out;
    FILE* pipe = popen(command.c_str(), "r");
    std::string said;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) said += line;
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status)) << c.args;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.args << ": " << said;
    EXPECT_NE(said.find(c.said), std::string::npos) << c.args << ": " << said;
    EXPECT_EQ(said.find("terminate"), std::string::npos) << said;
  }
  EXPECT_FALSE(exists("big.png"));
  EXPECT_FALSE(exists("huge.png"));
}

// A run that finds its folder locked by another says so at once, and an
// interrupt ends it there, with nothing renamed and nothing left behind.
TEST(ReferenceHostCommit, AWaitForAnotherRunSaysSoAndYieldsToInterrupts) {
  std::filesystem::create_directories("locked");
  std::ofstream("locked/kept.png", std::ios::binary) << "an earlier image";
  const int folder = open("locked", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(folder, LOCK_EX), 0);
  int said[2];
  ASSERT_EQ(pipe(said), 0);
  const pid_t child = fork();
  if (child == 0) {
    std::vector<std::string> args = refhost_run("locked/kept", "6");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    dup2(said[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(said[1]);
  std::string line;
  char c;
  while (read(said[0], &c, 1) == 1 && c != '\n') line += c;
  EXPECT_NE(line.find("refhost: waiting for the folder \""), std::string::npos)
      << line;
  EXPECT_NE(line.find("held by another run"), std::string::npos) << line;
  kill(child, SIGINT);
  const int status = wait_for(child);
  close(said[0]);
  close(folder);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(read_file("locked/kept.png"), "an earlier image");
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator("locked"))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"kept.png"});
}
#endif

// Names reach a person's terminal quoted and escaped, never raw.
TEST(ReferenceHostErrors, NamesArePrintedEscaped) {
  std::ofstream("names.json", std::ios::binary) << R"({"objects": [
      {"name": "x\n\u001b[2J\u0007y", "shape": "sphere", "position": [0, 0, 0]},
      {"name": "x\n\u001b[2J\u0007y", "shape": "sphere", "position": [2, 0, 0]}]})";
  const Outcome outcome = run({"--scene", "names.json", "--size", "16x16",
                               "--out", "names.png", "--manifest", "n.json"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find(R"("x\n\u001b[2J\u0007y", "x\n\u001b[2J\u0007y")"),
            std::string::npos)
      << outcome.out;
  EXPECT_EQ(outcome.out.find('\x1b'), std::string::npos);
}

TEST(ReferenceHost, VersionNamesItselfAndTheLibrary) {
  const Outcome outcome = run({"--version"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out.rfind("refhost " RAVELTINT_VERSION "\nlibrary \"", 0),
            0u)
      << outcome.out;
  EXPECT_NE(outcome.out.find("\": shader version " +
                             std::to_string(RAVELTINT_SHADER_VERSION) + "\n"),
            std::string::npos);
}

// A bare file name is the file in the current folder, as a person expects.
TEST(ReferenceHostErrors, BareLibraryNameIsInTheCurrentFolder) {
  const std::string library = module_path("ravelTint");
  const std::string copy =
      "copied_" + library.substr(library.find_last_of("/\\") + 1);
  if (!exists(copy)) std::filesystem::copy_file(library, copy);
  const Outcome outcome = render_small("bare", {"--library", copy});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
}

}  // namespace
