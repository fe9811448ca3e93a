#include "tools/refhost/options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/common/arguments.h"
#include "tools/common/errors.h"
#include "tools/refhost/scene.h"

namespace refhost {

using common::check_command_line;
using common::cryptomatte_ranks;
using common::kNotEmpty;
using common::kUsageError;
using common::parse_decimal;
using common::read_as_this_program;
using common::refuse;
using common::require_extension;
using common::whole;

namespace {

// "WIDTHxHEIGHT", each from 1 to kMaxImageSide.
std::pair<int, int> parse_size(const std::string& text) {
  const std::size_t x = text.find('x');
  const std::string_view all(text);
  const auto width = parse_decimal(all.substr(0, x), 1, kMaxImageSide);
  const auto height = x == std::string::npos
                          ? std::nullopt
                          : parse_decimal(all.substr(x + 1), 1, kMaxImageSide);
  if (!width || !height)
    refuse("--size", text,
           "WIDTHxHEIGHT, each a whole number from 1 to " +
               std::to_string(kMaxImageSide) + ", in decimal");
  return {static_cast<int>(*width), static_cast<int>(*height)};
}

struct Texts {
  std::string seed, size, samples, threads, search, close, ranks;
};

// A colour difference: plain decimal digits with an optional fraction, more
// than 0 and at most 100.
double difference(const std::string& text) {
  const std::size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string fraction =
      point == std::string::npos ? "" : text.substr(point + 1);
  const auto digits = [](const std::string& t) {
    return t.find_first_not_of("0123456789") == std::string::npos;
  };
  double value = 0;
  if (!whole.empty() && digits(whole) && digits(fraction) &&
      (point == std::string::npos || !fraction.empty()) && whole.size() < 4)
    value = std::stod(text);
  if (!(value > 0 && value <= 100))
    refuse("--close", text, "a number above 0 and at most 100, such as 2.0");
  return value;
}

// The numbers, read exactly as written.
void convert(const CLI::App& app, const Texts& texts, Options& options) {
  if (app.count("--seed"))
    options.seed = static_cast<std::int32_t>(
        whole("--seed", texts.seed, INT32_MIN, INT32_MAX));
  if (app.count("--size")) options.size = parse_size(texts.size);
  if (app.count("--samples"))
    options.samples =
        static_cast<int>(whole("--samples", texts.samples, 1, 16));
  if (app.count("--threads"))
    options.threads =
        static_cast<int>(whole("--threads", texts.threads, 0, 1024));
  if (app.count("--close")) options.close = difference(texts.close);
  if (app.count("--ranks")) options.ranks = cryptomatte_ranks(texts.ranks);
  if (app.count("--search"))
    options.search =
        static_cast<int>(whole("--search", texts.search, 0, 1000000));
}

// --names renders nothing, so the options of a render do not apply to it.
void require_names_alone(const CLI::App& app, const Options& options) {
  if (options.separate && options.names_path.empty())
    throw CLI::ValidationError("--separate: works on --names only");
  if (options.names_path.empty()) return;
  for (const char* option :
       {"--scene", "--out", "--exr", "--cryptomatte", "--ranks", "--size",
        "--samples", "--threads", "--close"})
    if (app.count(option))
      throw CLI::ValidationError(std::string(option) +
                                 ": --names renders nothing, so " + option +
                                 " does not apply");
}

}  // namespace

std::optional<int> parse_options(int argc, const char* const* argv,
                                 Options& options) {
  CLI::App app{
      "Renders an object-ID image with the ravelTint shader library, loaded "
      "as a renderer loads it, and writes a manifest of every object's colour.",
      "refhost"};
  read_as_this_program(app);
  Texts texts;
  bool grayscale = false;
  app.add_option("--scene", options.scene_path,
                 "JSON scene file (default: the built-in still life)")
      ->check(kNotEmpty);
  app.add_option("--seed", texts.seed,
                 "the shader's seed, re-rolls every colour (default: the "
                 "scene's)");
  auto* grey = app.add_flag("--grayscale", grayscale,
                            "grey colours only (--grayscale=false: never, "
                            "whatever the scene says)");
  app.add_option("--size", texts.size, "image size as WIDTHxHEIGHT");
  app.add_option("--samples", texts.samples,
                 "N: N×N samples per pixel, averaged, 1 to 16 (default 3)");
  app.add_option("--threads", texts.threads,
                 "threads, 0 to 1024 (default 0: every core)");
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
  app.add_option("--cryptomatte", options.cryptomatte,
                 "also an OpenEXR image of the float image and every object's "
                 "coverage of every pixel as Cryptomatte layers (Linux builds)")
      ->check(kNotEmpty);
  app.add_option("--ranks", texts.ranks,
                 "N: Cryptomatte ranks, an even number from 2 to 16 (default "
                 "6)");
  app.add_option("--search", texts.search,
                 "try N seeds from --seed on and use the best: the fewest "
                 "objects sharing seeds, then a colour, then touching pairs "
                 "closer than --close");
  app.add_option("--names", options.names_path,
                 "plan seeds for a real scene: a file of object names, one a "
                 "line (NAME or NAME<TAB>SEED); nothing is rendered")
      ->check(kNotEmpty);
  app.add_flag("--separate", options.separate,
               "with --names: give the fewest objects a seed of their own so "
               "that no two share their seeds");
  app.add_option("--close", texts.close,
                 "DE: report pairs of colours closer than this in CIEDE2000 "
                 "(default 2; about 1 is the least a viewer notices)");
  app.add_flag("--version", options.version,
               "print refhost's version and that of the library it loads");
  try {
    check_command_line(app, argc, argv, "options only (see --help)", 0);
    app.parse(argc, argv);
    convert(app, texts, options);
    if (app.count("--out")) require_extension("--out", options.out, ".png");
    if (app.count("--exr")) require_extension("--exr", options.exr, ".exr");
    if (app.count("--cryptomatte"))
      require_extension("--cryptomatte", options.cryptomatte, ".exr");
    if (app.count("--ranks") && !app.count("--cryptomatte"))
      throw CLI::ValidationError("--ranks: works with --cryptomatte only");
    require_names_alone(app, options);
    if (grey->count()) options.grayscale = grayscale;
  } catch (const CLI::ParseError& e) {
    // --help exits 0; every mistake on the command line exits 2.
    return app.exit(e) == 0 ? 0 : kUsageError;
  }
  return std::nullopt;
}

}  // namespace refhost
