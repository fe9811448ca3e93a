#include "tools/refhost/run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/common/commit.h"
#include "tools/common/errors.h"
#include "tools/common/exr_file.h"
#include "tools/common/json_text.h"
#include "tools/common/platform.h"
#include "tools/common/png.h"
#include "tools/common/quoting.h"
#include "tools/common/words.h"
#include "tools/common/workers.h"
#include "tools/refhost/builtin_scene.h"
#include "tools/refhost/library.h"
#include "tools/refhost/manifest.h"
#include "tools/refhost/names.h"
#include "tools/refhost/options.h"
#include "tools/refhost/render.h"
#include "tools/refhost/render_exr.h"
#include "tools/refhost/renderer_functions.h"
#include "tools/refhost/report.h"
#include "tools/refhost/scene_reader.h"
#include "tools/refhost/seed_search.h"
#include "tools/refhost/shading.h"
#include "tools/refhost/tracer.h"

namespace refhost {

using common::check_outputs;
using common::commit_outputs;
using common::count_of;
using common::exr_bytes;
using common::Failure;
using common::OutputFile;
namespace platform = common::platform;
using common::png_bytes;
using common::quote;
using common::run_program;

namespace {

Scene scene_for(const Options& options) {
  Scene scene = options.scene_path.empty() ? default_scene()
                                           : load_scene(options.scene_path);
  if (options.seed) scene.seed = *options.seed;
  if (options.grayscale) scene.grayscale = *options.grayscale;
  if (options.size) std::tie(scene.width, scene.height) = *options.size;
  return scene;
}

RenderSettings settings_for(const Options& options, const Scene& scene) {
  return {scene.width, scene.height, options.samples,
          common::default_threads(options.threads)};
}

// The files of a render, by name, before their bytes are known.
struct RenderOutputs {
  explicit RenderOutputs(const Options& options)
      : png{"--out", options.out, {}, {}},
        manifest{"--manifest", options.manifest, {}, {}},
        exr{"--exr", options.exr, {}, {}},
        cryptomatte{"--cryptomatte", options.cryptomatte, {}, {}},
        with_exr(!options.exr.empty()),
        with_cryptomatte(!options.cryptomatte.empty()) {}
  // In the order they are checked and committed.
  std::vector<OutputFile*> all() {
    std::vector<OutputFile*> files = {&png, &manifest};
    if (with_exr) files.push_back(&exr);
    if (with_cryptomatte) files.push_back(&cryptomatte);
    return files;
  }
  OutputFile png, manifest, exr, cryptomatte;
  bool with_exr, with_cryptomatte;
};

void render_scene(const Options& options) {
  const std::string library_path = options.library_path.empty()
                                       ? default_library_path()
                                       : options.library_path;
  RenderOutputs outputs(options);
  check_outputs(outputs.all(), {{options.scene_path, "is the scene file"},
                                {library_path, "is the library"}});
  Scene scene = scene_for(options);
  RenderSettings settings = settings_for(options, scene);
  settings.keep_float = outputs.with_exr || outputs.with_cryptomatte;
  settings.keep_objects = outputs.with_cryptomatte;
  const Library library = load_library(library_path);
  Database database(scene, scene.seed, scene.grayscale);
  ActiveDatabase active(database);
  const Shader shader(library, database);

  const Tracer tracer(scene, settings.width, settings.height);
  if (options.search > 0) {
    // Which objects touch, from one render of object identities alone.
    const Touching touching = render(tracer, settings, [](std::size_t) {
                                return host::Colour{};
                              }).touching;
    const SeedChoice choice =
        search_seed(shader, database, scene.seed, options.search,
                    [&](const std::vector<ObjectColour>& objects) {
                      return score_of(objects, find_groups(objects), touching,
                                      options.close);
                    });
    report_search(options, scene.seed, choice);
    scene.seed = choice.seed;
    database.set_seed(choice.seed);
  }

  const auto objects = probe_objects(shader, database.size());
  const Groups groups = find_groups(objects);
  const Image image = render(tracer, settings, [&](std::size_t object) {
    return shader.shade(object);
  });
  const ClosePairs close =
      find_close_pairs(objects, image.coverage, image.touching, options.close);
  if (database.pins() != 0)
    throw Failure("the render ended with " + std::to_string(database.pins()) +
                  " pins still held");

  outputs.png.bytes = png_bytes(image.width, image.height, image.rgba);
  const std::string png_name =
      std::filesystem::path(outputs.png.destination).filename().string();
  const std::string png_sha256 = platform::sha256_hex(outputs.png.bytes);
  const RenderFacts facts{settings,      image.coverage, close,
                          options.close, png_name,       png_sha256};
  std::string compact;
  const bool with_exr = outputs.with_exr || outputs.with_cryptomatte;
  outputs.manifest.bytes = manifest_text({scene, objects, groups, &facts, {}},
                                         with_exr ? &compact : nullptr);
  const int samples = settings.samples * settings.samples;
  if (outputs.with_exr)
    outputs.exr.bytes = exr_bytes(image, compact, scene, samples, 0);
  if (outputs.with_cryptomatte)
    outputs.cryptomatte.bytes =
        exr_bytes(image, compact, scene, samples, options.ranks);
  commit_outputs(outputs.all());
  std::printf("rendered %s at %dx%d, %s per pixel\n",
              count_of(scene.objects.size(), "object").c_str(), settings.width,
              settings.height,
              count_of(static_cast<std::size_t>(settings.samples) *
                           static_cast<std::size_t>(settings.samples),
                       "sample")
                  .c_str());
  for (const OutputFile* output : outputs.all())
    std::printf("  %-9s %s\n", (output->option.substr(2) + ":").c_str(),
                quote(output->destination).c_str());
  report_groups(scene, groups);
  report_close_pairs(scene, close, options.close);
}

// refhost's version, then the library's, as the default or --library path
// finds it.
void print_versions(const Options& options) {
  const std::string path = options.library_path.empty() ? default_library_path()
                                                        : options.library_path;
  std::printf("refhost %s\n", RAVELTINT_VERSION);
  const Library library = open_library(path);
  std::printf("library %s: shader version %d\n", quote(path).c_str(),
              library.shader_version);
}

}  // namespace

int run(int argc, const char* const* argv) {
  return run_program("refhost", [&] {
    Options options;
    if (const auto status = parse_options(argc, argv, options)) return *status;
    if (options.version)
      print_versions(options);
    else if (!options.names_path.empty())
      plan_names(options, options.library_path.empty() ? default_library_path()
                                                       : options.library_path);
    else
      render_scene(options);
    return 0;
  });
}

}  // namespace refhost
