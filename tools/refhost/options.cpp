#include "tools/refhost/options.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace refhost {

namespace {

// "WIDTHxHEIGHT", each from 1 to 16384.
std::string parse_size(const std::string& text,
                       std::optional<std::pair<int, int>>& size) {
  int width = 0, height = 0;
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &width, &x, &height, &rest) != 3 ||
      x != 'x' || width < 1 || height < 1 || width > 16384 || height > 16384)
    return "--size must be WIDTHxHEIGHT, each from 1 to 16384";
  size = std::make_pair(width, height);
  return "";
}

}  // namespace

std::optional<int> parse_options(int argc, const char* const* argv,
                                 Options& options) {
  CLI::App app{
      "Renders an object-ID image with the ravelTint shader library, loaded "
      "as a renderer loads it, and writes a manifest of every object's colour.",
      "refhost"};
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("refhost: error: ") + e.what() + "\n";
  });
  std::string size;
  app.add_option("--scene", options.scene_path,
                 "JSON scene file (default: the built-in still life)");
  app.add_option("--seed", options.seed,
                 "the shader's seed, re-rolls every colour (default: the "
                 "scene's)");
  app.add_flag("--grayscale", options.grayscale, "grey colours only");
  app.add_option("--size", size, "image size as WIDTHxHEIGHT");
  app.add_option("--samples", options.samples,
                 "N: N×N samples per pixel, averaged")
      ->check(CLI::Range(1, 16));
  app.add_option("--threads", options.threads, "threads (default: every core)")
      ->check(CLI::Range(0, 1024));
  app.add_option("--library", options.library_path,
                 "the shader library (default: beside this program)");
  app.add_option("--out", options.out, "the object-ID image (PNG)")
      ->capture_default_str();
  app.add_option("--manifest", options.manifest,
                 "the JSON manifest of every object's colour")
      ->capture_default_str();
  app.add_option("--search", options.search,
                 "try N seeds from --seed on and render with the one that "
                 "leaves the fewest groups of same-coloured objects")
      ->check(CLI::Range(0, 1000000));
  try {
    app.parse(argc, argv);
    if (!size.empty()) {
      const std::string error = parse_size(size, options.size);
      if (!error.empty()) throw CLI::ValidationError(error);
    }
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  return std::nullopt;
}

}  // namespace refhost
