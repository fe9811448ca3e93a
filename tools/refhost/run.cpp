#include "tools/refhost/run.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tools/refhost/collisions.h"
#include "tools/refhost/failure.h"
#include "tools/refhost/host_api.h"
#include "tools/refhost/options.h"
#include "tools/refhost/outputs.h"
#include "tools/refhost/raycast.h"
#include "tools/refhost/render.h"

namespace refhost {

namespace {

Scene scene_for(const Options& options) {
  Scene scene = options.scene_path.empty() ? default_scene()
                                           : load_scene(options.scene_path);
  if (options.seed) scene.seed = *options.seed;
  if (options.grayscale) scene.grayscale = true;
  if (options.size) std::tie(scene.width, scene.height) = *options.size;
  return scene;
}

RenderSettings settings_for(const Options& options, const Scene& scene) {
  int threads = options.threads;
  if (threads == 0)
    threads = static_cast<int>(std::thread::hardware_concurrency());
  return {scene.width, scene.height, options.samples,
          threads > 0 ? threads : 1};
}

// The renderer functions answer from `database` while this lives.
struct ActiveDatabase {
  explicit ActiveDatabase(Database& database) {
    set_active_database(&database);
  }
  ~ActiveDatabase() { set_active_database(nullptr); }
};

void report_collisions(const Scene& scene,
                       const std::vector<CollisionGroup>& groups) {
  if (groups.empty()) {
    std::printf("  no two objects share their seeds\n");
    return;
  }
  std::printf(
      "  %zu group%s of objects share their seeds, so they get the "
      "same colour in every renderer:\n",
      groups.size(), groups.size() == 1 ? "" : "s");
  for (const CollisionGroup& group : groups) {
    std::string names;
    for (std::size_t i : group.objects)
      names += (names.empty() ? "" : ", ") + scene.objects[i].name;
    std::printf("    %s%s\n", names.c_str(),
                is_grey(group.seeds) ? " (the same grey)" : "");
  }
}

void render_scene(const Options& options) {
  Scene scene = scene_for(options);
  const RenderSettings settings = settings_for(options, scene);
  const Library library =
      load_library(options.library_path.empty() ? default_library_path()
                                                : options.library_path);
  Database database(scene, scene.seed, scene.grayscale);
  ActiveDatabase active(database);
  const Shader shader(library, database);

  if (options.search > 0) {
    const SeedChoice choice =
        search_seed(shader, database, scene.seed, options.search);
    std::printf("searched %d seeds from %d: seed %d leaves %zu group%s\n",
                options.search, scene.seed, choice.seed, choice.groups,
                choice.groups == 1 ? "" : "s");
    scene.seed = choice.seed;
    database.set_seed(choice.seed);
  }

  const auto objects = probe_objects(shader, database.size());
  const auto groups = collision_groups(objects);
  const Tracer tracer(scene, settings.width, settings.height);
  const Image image = render(tracer, settings, [&](std::size_t object) {
    return shader.shade(object);
  });
  if (database.pins() != 0)
    throw Failure("the render ended with " + std::to_string(database.pins()) +
                  " pins still held");

  write_atomically(options.out, png_bytes(image));
  write_atomically(options.manifest,
                   manifest_text({scene, settings, objects, groups}));
  std::printf("rendered %zu objects at %dx%d, %d samples per pixel\n",
              scene.objects.size(), settings.width, settings.height,
              settings.samples * settings.samples);
  std::printf("  image:    %s\n  manifest: %s\n",
              std::filesystem::absolute(options.out).string().c_str(),
              std::filesystem::absolute(options.manifest).string().c_str());
  report_collisions(scene, groups);
}

}  // namespace

int run(int argc, const char* const* argv) {
  Options options;
  if (const auto status = parse_options(argc, argv, options)) return *status;
  try {
    render_scene(options);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "refhost: error: %s\n", failure.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "refhost: error: %s\n", e.what());
    return 1;
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace refhost
