// The reference host's renders: what the image, the manifest and the EXR
// hold, what it reports, the hierarchy, and seed planning from names.
#include <array>
#include <chrono>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image.h>

#include "tests/support/refhost_runs.h"
#include "tests/support/spawn.h"
#include "tools/common/exr_file.h"
#include "tools/matte/sources.h"
#include "tools/refhost/groups.h"
#include "tools/refhost/render.h"
#include "tools/refhost/tracer.h"

namespace {

using namespace refhost_runs;

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
// the Linux and the Windows builds write the same bytes: the EXR and its
// Cryptomatte too, though each build writes them with its own library.
TEST(ReferenceHost, OutputsAreTheSameOnEveryTarget) {
  ASSERT_EQ(render_small("same", {"--exr", "same.exr", "--cryptomatte",
                                  "same.cryptomatte.exr"})
                .status,
            0);
  EXPECT_TRUE(read_file("same.png") == read_file(data_file("small_scene.png")));
  EXPECT_EQ(read_file("same.json"),
            read_file(data_file("small_scene.manifest.json")));
  EXPECT_TRUE(read_file("same.exr") == read_file(data_file("small_scene.exr")));
  EXPECT_TRUE(read_file("same.cryptomatte.exr") ==
              read_file(data_file("small_scene.cryptomatte.exr")));
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
      const double d = common::ciede2000(common::lab_of(objects[a].rgb()),
                                         common::lab_of(objects[b].rgb()));
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
    common::Lab a, b;
    double expected = 0;
    fields >> a[0] >> a[1] >> a[2] >> b[0] >> b[1] >> b[2] >> expected;
    EXPECT_NEAR(common::ciede2000(a, b), expected, 0.00005) << line;
    EXPECT_NEAR(common::ciede2000(b, a), expected, 0.00005) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 34);
}

// The float image carries the shader's colours bit for bit and its own key.
TEST(ReferenceHost, ExrHoldsExactFloatsAndTheManifest) {
  ASSERT_EQ(render_small("float", {"--exr", "float.exr"}).status, 0);
  const common::ExrImage image = common::read_exr("float.exr");
  const std::string key = image.attributes.at("ravelTint/manifest");
  // The same manifest, compact.
  EXPECT_EQ(json::parse(key), json::parse(read_file("float.json")));
  EXPECT_EQ(key.find('\n'), std::string::npos);
  EXPECT_EQ(key.find("\": "), std::string::npos);
  // The floor fills the bottom row; its colour is in the manifest.
  const json floor = json::parse(read_file("float.json"))["objects"][0];
  const std::size_t corner =
      static_cast<std::size_t>(image.width) * (image.height - 1);
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(image.channels.at(std::string(1, "RGB"[c]))[corner],
              floor["colour"][c].get<float>());
  EXPECT_EQ(image.channels.at("A")[corner], 1.0f);
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

// The colour record, asked of the library through RAVELTINT_RECORD as any
// renderer's process would ask it. Each run is a process of its own: the
// record is decided at a process's first shader call.

std::string refhost_program() {
#if defined(_WIN32)
  return program_directory() + "/refhost.exe";
#else
  return program_directory() + "/refhost";
#endif
}

namespace fs = std::filesystem;

// Every line of every record in `folder`, parsed.
std::vector<json> record_lines(const std::string& folder) {
  std::vector<json> lines;
  for (const auto& file : fs::directory_iterator(fs::u8path(folder))) {
    std::ifstream in(file.path(), std::ios::binary);
    for (std::string line; std::getline(in, line);)
      lines.push_back(json::parse(line));
  }
  return lines;
}

using RecordKey = std::tuple<std::string, std::int64_t, bool>;

// The manifest's objects as the record keys them, with their colours.
std::map<RecordKey, json> manifest_objects(const std::string& path) {
  const json manifest = json::parse(read_file(path));
  std::map<RecordKey, json> objects;
  for (const json& o : manifest["objects"])
    objects[{o["name"], o["seed"], manifest["shader"]["grayscale"]}] =
        o["colour"];
  return objects;
}

// A scene of `count` objects in a grid on a floor, every tenth with a seed
// of its own.
void write_grid_scene(const std::string& path, int count) {
  std::ofstream scene(path, std::ios::binary);
  scene << "{\"camera\": {\"position\": [0, 12, 16]}, \"objects\": [";
  const int side = static_cast<int>(std::ceil(std::sqrt(count)));
  for (int i = 0; i < count; ++i)
    scene << (i ? "," : "") << "{\"name\": \"o" << i
          << "\", \"shape\": \"sphere\", \"position\": ["
          << -10 + 20.0 * (i % side + 0.5) / side << ", 0.1, "
          << -10 + 20.0 * (i / side + 0.5) / side << "], \"size\": 0.08"
          << (i % 10 == 3 ? ", \"seed\": " + std::to_string(i) : "") << "}";
  scene << "]}";
}

// Every object the host colours is in its process's record once, after one
// line that names the format, with the very floats of the manifest: on one
// thread and on every thread, with seeds of their own, under a path of any
// characters with the process's number in it.
TEST(ReferenceHost, ColourRecordHoldsEachObjectOnceWithItsColour) {
  write_grid_scene("grid.json", 10000);
  const std::vector<std::vector<std::string>> runs = {
      {"--samples", "1", "--threads", "1"},
      {"--samples", "1", "--grayscale"},  // grey objects told apart too
      {"--scene", "grid.json", "--size", "320x200", "--samples", "2"}};
  for (const auto& extra : runs) {
    SCOPED_TRACE(extra.size());
    fs::remove_all("records");
    fs::create_directory("records");
    std::vector<std::string> args = {refhost_program(), "--out", "r.png",
                                     "--manifest", "r.json"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_EQ(testing_support::wait_for(testing_support::start(
                  args, "RAVELTINT_RECORD", "records/r\u00ebc %p.jsonl")),
              0);
    const auto files = std::distance(fs::directory_iterator("records"),
                                     fs::directory_iterator());
    ASSERT_EQ(files, 1);
    EXPECT_NE(
        fs::directory_iterator("records")->path().u8string().find("r\u00ebc "),
        std::string::npos);
    const std::vector<json> lines = record_lines("records");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0]["ravelTint_record"], 1);
    EXPECT_EQ(lines[0]["shader_version"], 2);
    EXPECT_TRUE(lines[0]["host"].is_string() && lines[0]["process"] > 0);
    std::map<RecordKey, json> expected = manifest_objects("r.json");
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const json& l = lines[i];
      const RecordKey key{l["name"], l["seed"], l["grayscale"]};
      ASSERT_TRUE(expected.count(key)) << l.dump();
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(l["colour"][c].get<float>(), expected[key][c].get<float>())
            << l.dump();
      expected.erase(key);  // once only
    }
    EXPECT_TRUE(expected.empty()) << expected.size() << " not recorded";
  }
}

// Processes that append to one file at once never interleave inside a
// line; a process killed in the middle leaves at most its last line
// unfinished, which readers skip.
TEST(ReferenceHost, ColourRecordLinesStayWholeAcrossProcesses) {
  fs::remove_all("shared");
  fs::create_directory("shared");
  write_grid_scene("grid.json", 10000);
  const std::vector<std::string> args = {
      refhost_program(), "--scene",    "grid.json", "--size",
      "320x200",         "--samples",  "2",         "--out",
      "s.png",           "--manifest", "s.json"};
  const auto a =
      testing_support::start(args, "RAVELTINT_RECORD", "shared/both.jsonl");
  const auto b =
      testing_support::start(args, "RAVELTINT_RECORD", "shared/both.jsonl");
  EXPECT_EQ(testing_support::wait_for(a), 0);
  EXPECT_EQ(testing_support::wait_for(b), 0);
  std::size_t headers = 0, objects = 0;
  for (const json& line : record_lines("shared"))  // each parses whole
    line.contains("ravelTint_record") ? ++headers : ++objects;
  EXPECT_EQ(headers, 2u);
  EXPECT_EQ(objects, 2 * manifest_objects("s.json").size());

  fs::remove_all("killed");
  fs::create_directory("killed");
  const auto killed = testing_support::start(
      {refhost_program(), "--scene", "grid.json", "--size", "1600x1000",
       "--samples", "4", "--out", "k.png", "--manifest", "k.json"},
      "RAVELTINT_RECORD", "killed/k.jsonl");
  // Killed once it has written its first objects.
  for (int i = 0; i < 6000 && read_file("killed/k.jsonl").size() < 1000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  testing_support::kill_now(killed);
  std::ofstream("killed/k.jsonl", std::ios::binary | std::ios::app)
      << "{\"name\": \"o1\", \"se";  // as if killed within a line
  const matte::Sources read = matte::read_sources({"killed/k.jsonl"});
  EXPECT_GT(read.objects.size(), 0u);
}

// A record that cannot be written is one warning through the renderer's
// log, and the render goes on with every colour as it was.
TEST(ReferenceHost, UnwritableColourRecordWarnsOnceAndChangesNoColour) {
  const auto render = [](const std::string& stem, const std::string& record) {
    return testing_support::wait_for(testing_support::start(
        {refhost_program(), "--samples", "2", "--out", stem + ".png",
         "--manifest", stem + ".json"},
        record.empty() ? "" : "RAVELTINT_RECORD", record, stem + ".log"));
  };
  ASSERT_EQ(render("plain", ""), 0);
  ASSERT_EQ(render("unwritable", "no_such_folder/r.jsonl"), 0);
  const std::string log = read_file("unwritable.log");
  const std::string warning =
      "refhost: warning: ravelTint: cannot write the colour record "
      "\"no_such_folder/r.jsonl\": ";
  EXPECT_NE(log.find(warning), std::string::npos) << log;
  EXPECT_EQ(log.find(warning, log.find(warning) + 1), std::string::npos);
  EXPECT_EQ(read_file("unwritable.png"), read_file("plain.png"));
}

}  // namespace
