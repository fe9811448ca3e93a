#include "tools/refhost/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <string_view>

#include "tools/refhost/scene.h"

namespace refhost {

namespace {

// A whole number from 1 to kMaxImageSide, all of `text`.
bool parse_side(std::string_view text, int& side) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, side);
  return error == std::errc() && stop == end && side >= 1 &&
         side <= kMaxImageSide;
}

// "WIDTHxHEIGHT", each from 1 to kMaxImageSide.
std::string parse_size(const std::string& text,
                       std::optional<std::pair<int, int>>& size) {
  const std::size_t x = text.find('x');
  int width = 0, height = 0;
  if (x == std::string::npos ||
      !parse_side(std::string_view(text).substr(0, x), width) ||
      !parse_side(std::string_view(text).substr(x + 1), height))
    return "--size must be WIDTHxHEIGHT, each a whole number from 1 to " +
           std::to_string(kMaxImageSide);
  size = std::make_pair(width, height);
  return "";
}

// An option given with an empty value would silently mean its default.
const CLI::Validator kNotEmpty(
    [](const std::string& value) {
      return value.empty() ? std::string("must not be empty") : std::string();
    },
    "", "NOT EMPTY");

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
                 "JSON scene file (default: the built-in still life)")
      ->check(kNotEmpty);
  app.add_option("--seed", options.seed,
                 "the shader's seed, re-rolls every colour (default: the "
                 "scene's)")
      ->check(kNotEmpty);
  app.add_flag("--grayscale", options.grayscale, "grey colours only");
  app.add_option("--size", size, "image size as WIDTHxHEIGHT")
      ->check(kNotEmpty);
  app.add_option("--samples", options.samples,
                 "N: N×N samples per pixel, averaged")
      ->check(CLI::Range(1, 16));
  app.add_option("--threads", options.threads, "threads (default: every core)")
      ->check(CLI::Range(0, 1024));
  app.add_option("--library", options.library_path,
                 "the shader library (default: beside this program)")
      ->check(kNotEmpty);
  app.add_option("--out", options.out, "the object-ID image (PNG)")
      ->capture_default_str()
      ->check(kNotEmpty);
  app.add_option("--manifest", options.manifest,
                 "the JSON manifest of every object's colour")
      ->capture_default_str()
      ->check(kNotEmpty);
  app.add_option("--exr", options.exr,
                 "also an OpenEXR image: RGBA as 32-bit float, premultiplied, "
                 "with the manifest in its header (Linux builds)")
      ->check(kNotEmpty);
  app.add_option("--search", options.search,
                 "try N seeds from --seed on and render with the one that "
                 "leaves the fewest groups of objects that share their seeds "
                 "or their colour")
      ->check(CLI::Range(0, 1000000));
  app.add_flag("--version", options.version,
               "print refhost's version and that of the library it loads");
  try {
    app.parse(argc, argv);
    if (!size.empty()) {
      const std::string error = parse_size(size, options.size);
      if (!error.empty()) throw CLI::ValidationError(error);
    }
  } catch (const CLI::ParseError& e) {
    // --help exits 0; every mistake on the command line exits 2.
    return app.exit(e) == 0 ? 0 : kUsageError;
  }
  return std::nullopt;
}

}  // namespace refhost
