#include "tools/matte/options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string_view>
#include <tuple>

#include "tools/common/arguments.h"
#include "tools/common/errors.h"
#include "tools/common/exr_file.h"
#include "tools/common/quoting.h"
#include "tools/common/words.h"

namespace matte {

using common::quote;

namespace {

// A frame number: decimal digits, padded with zeros or not, as frames are
// named (0001), at most 9 of them.
std::optional<long> frame_number(std::string_view text) {
  const std::size_t digits = text.find_first_not_of('0');
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  if (digits == std::string_view::npos) return 0;
  const auto n = common::parse_decimal(text.substr(digits), 0, 999999999);
  if (!n) return std::nullopt;
  return static_cast<long>(*n);
}

// "A-B", two frame numbers with A <= B.
void parse_frames(const std::string& text, Options& options) {
  const std::size_t dash = text.find('-', 1);
  const auto first = frame_number(std::string_view(text).substr(0, dash));
  const auto last = dash == std::string::npos
                        ? std::nullopt
                        : frame_number(std::string_view(text).substr(dash + 1));
  if (!first || !last || *first > *last)
    common::refuse("--frames", text,
                   "FIRST-LAST, frame numbers from 0 to 999999999 (zeros in "
                   "front or not) with FIRST at most LAST, such as 1001-1100 "
                   "or 0001-0100");
  options.frames = true;
  options.first_frame = *first;
  options.last_frame = *last;
}

void require_image_extension(const char* option, const std::string& path,
                             bool png_too) {
  const std::string lower = common::ascii_lower(path);
  const auto ends = [&](const char* e) {
    return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, e) == 0;
  };
  if (ends(".exr")) return;
  if (png_too && ends(".png")) return;
  common::refuse(option, path,
                 png_too ? "a file name ending in .exr or .png"
                         : "a file name ending in .exr");
}

void check_options(const CLI::App& app, Options& options) {
  for (const auto& [option, path, png] :
       {std::tuple<const char*, const std::string*, bool>{"--out", &options.out,
                                                          true},
        {"--cryptomatte", &options.cryptomatte, false},
        {"--unexplained", &options.unexplained, true},
        {"--inferred", &options.inferred, true}})
    if (app.count(option)) require_image_extension(option, *path, png);
  if (!options.out.empty() && options.select.empty())
    throw CLI::ValidationError("--out: a matte needs --select PATTERN");
  if (options.frames != has_frame_number(options.image))
    throw CLI::ValidationError(
        options.frames
            ? "--frames: the image " + quote(options.image) +
                  " has no # run for the frame's number (shot.####.exr)"
            : quote(options.image) +
                  ": a # run stands for a frame's number; give --frames "
                  "FIRST-LAST");
  if (options.frames &&
      options.image.find_last_of("/\\") > options.image.find('#') &&
      options.image.find_last_of("/\\") != std::string::npos)
    throw CLI::ValidationError(
        "--frames: the # run of " + quote(options.image) +
        " must be in the image's file name, not in a folder's");
  if (options.frames)
    for (const std::string* out : {&options.out, &options.cryptomatte,
                                   &options.unexplained, &options.inferred})
      if (!out->empty() && !has_frame_number(*out))
        throw CLI::ValidationError(
            quote(*out) +
            ": with --frames, each output needs a # run for the frame's "
            "number, or every frame would replace the last");
}

}  // namespace

bool has_frame_number(const std::string& path) {
  return path.find('#') != std::string::npos;
}

std::optional<int> parse_options(int argc, const char* const* argv,
                                 Options& options) {
  CLI::App app{
      "Turns a flat object-ID image into exact soft mattes by object name and "
      "into Cryptomatte layers, by unmixing every anti-aliased pixel into the "
      "coverages of the colours it mixes.",
      "ravelTint-matte"};
  common::read_as_this_program(app);
  std::string frames, threads, ranks;
  app.add_option("IMAGE", options.image,
                 "the ID image: EXR (float or half) or PNG (8 or 16 bits); a "
                 "run of # stands for a frame's number")
      ->required()
      ->check(common::kNotEmpty);
  const std::tuple<const char*, std::string*, const char*> paths[] = {
      {"--layer", &options.layer,
       "NAME: the EXR layer that holds the ID image (such as "
       "ViewLayer.Combined); default: the one layer of R, G, B and A"},
      {"--out", &options.out,
       "the selected objects' matte: one-channel float EXR (A) or 16-bit "
       "grey PNG"},
      {"--cryptomatte", &options.cryptomatte,
       "an EXR of the image and every object's coverage as Cryptomatte "
       "layers"},
      {"--unexplained", &options.unexplained,
       "a mask (EXR or PNG) of the pixels that no mix explains"},
      {"--inferred", &options.inferred,
       "a mask (EXR or PNG) of the pixels that several mixes give, decided "
       "by their neighbours"}};
  for (const auto& [name, value, help] : paths)
    app.add_option(name, *value, help)->check(common::kNotEmpty);
  app.add_option("--manifest", options.manifests,
                 "FILE: names and colours: the reference host's manifest, a "
                 "colour record of the library (RAVELTINT_RECORD), or a "
                 "folder of records; repeatable (default: the EXR's own "
                 "manifest, or colours found in the image)")
      ->check(common::kNotEmpty);
  app.add_option("--select", options.select,
                 "PATTERN: objects by name, with *, ? and [...], or by colour "
                 "as #rrggbb; repeatable")
      ->check(common::kNotEmpty);
  app.add_option("--frames", frames, "FIRST-LAST: the frames of a # sequence");
  app.add_option("--threads", threads,
                 "threads, 0 to 1024 (default 0: every core)");
  app.add_option("--ranks", ranks,
                 "N: Cryptomatte ranks, an even number from 2 to 16 (default "
                 "6)");
  app.add_flag("--version", "print the version");
  try {
    common::check_command_line(app, argc, argv,
                               "one IMAGE and options (see --help)", 1);
    // --version wherever it stands answers alone, as it does for every
    // program, and needs no IMAGE.
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i)
      if (std::string(argv[i]) == "--version") {
        std::printf("ravelTint-matte %s\n", RAVELTINT_VERSION);
        return 0;
      }
    const common::SplitCommandLine split = common::take_lists(app, argc, argv);
    const std::vector<const char*> rest = split.argv();
    app.parse(static_cast<int>(rest.size()), rest.data());
    const auto list = [&](const char* name) {
      const auto it = split.lists.find(name);
      return it == split.lists.end() ? std::vector<std::string>() : it->second;
    };
    options.select = list("--select");
    options.manifests = list("--manifest");
    for (const auto* values : {&options.select, &options.manifests})
      for (const std::string& value : *values)
        if (value.empty())
          throw CLI::ValidationError(std::string(values == &options.select
                                                     ? "--select"
                                                     : "--manifest") +
                                     ": must not be empty");
    if (app.count("--frames")) parse_frames(frames, options);
    if (app.count("--threads"))
      options.threads =
          static_cast<int>(common::whole("--threads", threads, 0, 1024));
    if (app.count("--ranks")) options.ranks = common::cryptomatte_ranks(ranks);
    check_options(app, options);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : common::kUsageError;
  }
  return std::nullopt;
}

}  // namespace matte
