#include "tools/refhost/names.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "support/printable.h"
#include "tools/common/arguments.h"
#include "tools/common/commit.h"
#include "tools/common/errors.h"
#include "tools/common/platform.h"
#include "tools/common/quoting.h"
#include "tools/common/scene_file.h"
#include "tools/common/words.h"
#include "tools/refhost/library.h"
#include "tools/refhost/manifest.h"
#include "tools/refhost/renderer_functions.h"
#include "tools/refhost/report.h"
#include "tools/refhost/scene.h"
#include "tools/refhost/seed_search.h"
#include "tools/refhost/shading.h"

namespace refhost {

using common::characters_before;
using common::check_outputs;
using common::commit_outputs;
using common::count_of;
using common::Failure;
using common::OutputFile;
using common::parse_decimal;
using common::quote;
using common::read_scene_file;

namespace {

Object object_of_line(std::string_view line, const std::string& where) {
  Object o;
  const std::size_t tab = line.find('\t');
  if (tab != std::string_view::npos) {
    const auto seed = parse_decimal(line.substr(tab + 1), INT32_MIN, INT32_MAX);
    if (!seed)
      throw Failure(where +
                    ": the seed after the tab must be a whole number "
                    "from -2147483648 to 2147483647, in decimal");
    o.seed = static_cast<std::int32_t>(*seed);
    line = line.substr(0, tab);
  }
  if (!valid_utf8(line.data(), line.size()))
    throw Failure(where + ": not valid UTF-8");
  o.name = std::string(line);
  return o;
}

// The seeds of an object as one key, three channels or one.
using SeedKey = std::array<std::int32_t, 3>;
SeedKey key_of(const std::vector<std::int32_t>& seeds) {
  SeedKey key{};
  for (std::size_t i = 0; i < seeds.size() && i < 3; ++i) key[i] = seeds[i];
  return key;
}

struct KeyHash {
  std::size_t operator()(const SeedKey& k) const {
    std::uint64_t h = 1469598103934665603ull;
    for (std::int32_t v : k)
      h = (h ^ static_cast<std::uint32_t>(v)) * 1099511628211ull;
    return static_cast<std::size_t>(h);
  }
};

std::size_t shared_objects(const Groups& groups) {
  std::size_t n = 0;
  for (const auto& group : groups.seeds) n += group.objects.size();
  return n;
}

// Gives every object but the first of each shared-seed group a seed of its
// own, the first after the scene's seed that leaves its seeds unlike every
// other object's. Returns how many objects got one. Seeds only ever become
// taken, and a name's seeds depend on the name and the seed alone, so every
// seed before the one an earlier object of the same name got is still
// taken: each name's search goes on from there, and a group of a million
// copies of one name costs no more than a million names.
std::size_t separate(const Shader& shader, Database& database, Scene& scene,
                     std::vector<ObjectColour>& objects, const Groups& groups) {
  std::unordered_set<SeedKey, KeyHash> used;
  for (const ObjectColour& o : objects) used.insert(key_of(o.seeds));
  std::unordered_map<std::string, std::uint32_t> last_given;
  std::size_t given = 0;
  for (const CollisionGroup& group : groups.seeds)
    for (std::size_t k = 1; k < group.objects.size(); ++k) {
      const std::size_t object = group.objects[k];
      const auto [last, fresh] = last_given.try_emplace(
          scene.objects[object].name, static_cast<std::uint32_t>(scene.seed));
      std::uint32_t candidate = last->second;
      do {
        ++candidate;
        database.set_object_seed(object, static_cast<std::int32_t>(candidate));
        objects[object] = probe_object(shader, object);
      } while (!used.insert(key_of(objects[object].seeds)).second);
      last->second = candidate;
      scene.objects[object].seed = static_cast<std::int32_t>(candidate);
      ++given;
    }
  return given;
}

}  // namespace

Scene load_names(const std::string& path) {
  const std::string file = read_scene_file(path);
  std::string_view text = file;
  // Editors on Windows begin UTF-8 files with a byte-order mark; it is no
  // part of the first name.
  if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3);
  Scene scene;
  std::size_t start = 0, line = 1;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view name = text.substr(start, end - start);
    if (!name.empty() && name.back() == '\r') name.remove_suffix(1);
    const std::string where = quote(path) + ": line " + std::to_string(line);
    const std::size_t nul = name.find('\0');
    if (nul != std::string_view::npos)
      throw Failure(where + ", column " +
                    std::to_string(characters_before(name, nul) + 1) +
                    ": a NUL byte, which would end the name for a renderer");
    // A blank line names nothing: it is skipped, as are trailing ones.
    if (!name.empty()) scene.objects.push_back(object_of_line(name, where));
    start = end + 1;
    ++line;
  }
  return scene;
}

void plan_names(const Options& options, const std::string& library_path) {
  OutputFile manifest{"--manifest", options.manifest, {}, {}};
  check_outputs({&manifest}, {{options.names_path, "is the names file"},
                              {library_path, "is the library"}});
  Scene scene = load_names(options.names_path);
  if (options.seed) scene.seed = *options.seed;
  if (options.grayscale) scene.grayscale = *options.grayscale;
  const Library library = load_library(library_path);
  Database database(scene, scene.seed, scene.grayscale);
  ActiveDatabase active(database);
  const Shader shader(library, database);

  if (options.search > 0) {
    // Names alone show only which objects share their seeds.
    const SeedChoice choice =
        search_seed(shader, database, scene.seed, options.search,
                    [](const std::vector<ObjectColour>& objects) {
                      SeedScore score{0, 0, 0, 0};
                      score.seed_grouped = shared_objects(find_groups(objects));
                      return score;
                    });
    std::printf(
        "searched %s from %d: seed %d leaves %s sharing their seeds\n",
        count_of(static_cast<std::size_t>(options.search), "seed").c_str(),
        scene.seed, choice.seed,
        count_of(choice.score.seed_grouped, "object").c_str());
    scene.seed = choice.seed;
    database.set_seed(choice.seed);
  }
  std::vector<ObjectColour> objects = probe_objects(shader, database.size());
  Groups groups = find_groups(objects);
  const std::size_t shared = shared_objects(groups);
  if (options.separate && !groups.seeds.empty()) {
    const std::size_t given =
        separate(shader, database, scene, objects, groups);
    groups = find_groups(objects);
    std::printf(
        "gave %zu of the %zu objects that shared their seeds a seed "
        "of their own\n",
        given, shared);
  }
  manifest.bytes =
      manifest_text({scene, objects, groups, nullptr, options.names_path});
  commit_outputs({&manifest});
  const std::size_t still_shared = shared_objects(groups);
  std::printf("%s, seed %d: %s %s their seeds\n",
              count_of(objects.size(), "name").c_str(), scene.seed,
              count_of(still_shared, "object").c_str(),
              still_shared == 1 ? "shares" : "share");
  std::printf("  manifest: %s\n", quote(manifest.destination).c_str());
  report_seed_groups(scene, groups);
}

}  // namespace refhost
