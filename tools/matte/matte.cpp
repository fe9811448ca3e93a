#include "tools/matte/matte.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "tools/matte/id_image.h"
#include "tools/matte/palette.h"
#include "tools/matte/selection.h"
#include "tools/matte/unmix.h"
#include "tools/refhost/arguments.h"
#include "tools/refhost/commit.h"
#include "tools/refhost/cryptomatte.h"
#include "tools/refhost/exr_file.h"
#include "tools/refhost/platform.h"
#include "tools/refhost/png.h"
#include "tools/refhost/scene_file.h"
#include "tools/refhost/text.h"
#include "tools/refhost/workers.h"

namespace matte {

using refhost::count_of;
using refhost::Failure;
using refhost::kFailure;
using refhost::kUsageError;
using refhost::quote;
using refhost::report_error;

namespace {

// ---- The command line.

// "A-B", two whole numbers with A <= B.
void parse_frames(const std::string& text, Options& options) {
  const std::size_t dash = text.find('-', 1);
  const auto first = refhost::parse_decimal(text.substr(0, dash), 0, 999999999);
  const auto last =
      dash == std::string::npos
          ? std::nullopt
          : refhost::parse_decimal(text.substr(dash + 1), 0, 999999999);
  if (!first || !last || *first > *last)
    refhost::refuse("--frames", text,
                    "FIRST-LAST, whole numbers from 0 with FIRST at most LAST, "
                    "such as 1001-1100");
  options.frames = true;
  options.first_frame = static_cast<long>(*first);
  options.last_frame = static_cast<long>(*last);
}

bool has_frame_number(const std::string& path) {
  return path.find('#') != std::string::npos;
}

void require_image_extension(const char* option, const std::string& path,
                             bool png_too) {
  const std::string lower = refhost::ascii_lower(path);
  const auto ends = [&](const char* e) {
    return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, e) == 0;
  };
  if (ends(".exr")) return refhost::require_exr_support(option);
  if (png_too && ends(".png")) return;
  refhost::refuse(option, path,
                  png_too ? "a file name ending in .exr or .png"
                          : "a file name ending in .exr");
}

void check_options(const CLI::App& app, Options& options) {
  for (const auto& [option, path, png] :
       {std::tuple<const char*, const std::string*, bool>{"--out", &options.out,
                                                          true},
        {"--cryptomatte", &options.cryptomatte, false},
        {"--unexplained", &options.unexplained, true}})
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
  if (options.frames)
    for (const std::string* out :
         {&options.out, &options.cryptomatte, &options.unexplained})
      if (!out->empty() && !has_frame_number(*out))
        throw CLI::ValidationError(
            quote(*out) +
            ": with --frames, each output needs a # run for the frame's "
            "number, or every frame would replace the last");
}

std::optional<int> parse_options(int argc, const char* const* argv,
                                 Options& options) {
  CLI::App app{
      "Turns a flat object-ID image into exact soft mattes by object name and "
      "into Cryptomatte layers, by unmixing every anti-aliased pixel into the "
      "coverages of the colours it mixes.",
      "ravelTint-matte"};
  // "/path" is a file on every system, never a Windows-style option.
  app.allow_windows_style_options(false);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("ravelTint-matte: error: ") +
           refhost::printable_line(e.what()) + "\n";
  });
  std::string frames, threads, ranks;
  app.add_option("IMAGE", options.image,
                 "the ID image: EXR (float or half) or PNG (8 or 16 bits); a "
                 "run of # stands for a frame's number")
      ->required()
      ->check(refhost::kNotEmpty);
  app.add_option("--manifest", options.manifest,
                 "the reference host's manifest of names and colours "
                 "(default: the EXR's own, or colours found in the image)")
      ->check(refhost::kNotEmpty);
  app.add_option("--select", options.select,
                 "PATTERN: objects by name, with *, ? and [...], or by colour "
                 "as #rrggbb; repeatable")
      ->check(refhost::kNotEmpty);
  app.add_option("--out", options.out,
                 "the selected objects' matte: one-channel float EXR (A) or "
                 "16-bit grey PNG")
      ->check(refhost::kNotEmpty);
  app.add_option("--cryptomatte", options.cryptomatte,
                 "an EXR of the image and every object's coverage as "
                 "Cryptomatte layers")
      ->check(refhost::kNotEmpty);
  app.add_option("--unexplained", options.unexplained,
                 "a mask (EXR or PNG) of the pixels that no mix explains")
      ->check(refhost::kNotEmpty);
  app.add_option("--frames", frames, "FIRST-LAST: the frames of a # sequence");
  app.add_option("--threads", threads,
                 "threads, 0 to 1024 (default 0: every core)");
  app.add_option("--ranks", ranks,
                 "N: Cryptomatte ranks, an even number from 2 to 16 (default "
                 "6)");
  app.add_flag("--version", "print the version");
  try {
    if (argc == 2 && std::string(argv[1]) == "--version") {
      std::printf("ravelTint-matte %s\n", RAVELTINT_VERSION);
      return 0;
    }
    refhost::check_command_line(app, argc, argv,
                                "one IMAGE and options (see --help)", 1);
    app.parse(argc, argv);
    if (app.count("--frames")) parse_frames(frames, options);
    if (app.count("--threads"))
      options.threads =
          static_cast<int>(refhost::whole("--threads", threads, 0, 1024));
    if (app.count("--ranks")) options.ranks = refhost::cryptomatte_ranks(ranks);
    check_options(app, options);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kUsageError;
  }
  return std::nullopt;
}

// ---- One frame.

// `path` with its run of '#' replaced by the frame's number, padded with
// zeros to the run's length.
std::string frame_path(const std::string& path, long frame) {
  const std::size_t first = path.find('#');
  if (first == std::string::npos) return path;
  std::size_t last = first;
  while (last < path.size() && path[last] == '#') ++last;
  std::string number = std::to_string(frame);
  if (number.size() < last - first)
    number.insert(0, last - first - number.size(), '0');
  return path.substr(0, first) + number + path.substr(last);
}

std::string encoding_name(Encoding e) {
  switch (e) {
    case Encoding::kFloat:
      return "float EXR";
    case Encoding::kHalf:
      return "half EXR";
    case Encoding::kByte:
      return "8-bit PNG";
    case Encoding::kShort:
      return "16-bit PNG";
  }
  return "";
}

// A one-channel image file: EXR (channel A) or PNG, by its name.
std::string mask_bytes(const std::string& path, int width, int height,
                       const std::vector<float>& values) {
  if (refhost::ascii_lower(path).size() >= 4 &&
      refhost::ascii_lower(path).compare(path.size() - 4, 4, ".png") == 0)
    return refhost::png_grey16_bytes(width, height, values);
  refhost::ExrPicture picture;
  picture.width = width;
  picture.height = height;
  picture.channels.push_back({"A", values.data(), 1});
  return refhost::exr_bytes(picture);
}

// Names of a group, as a person reads them: the first few and a count.
std::string names_of(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < 10; ++i)
    text += (i ? ", " : "") + quote(names[i]);
  if (names.size() > 10)
    text += " and " + std::to_string(names.size() - 10) + " more";
  return text;
}

// Pairs of palette colours so close that a mix of them is known to no
// better than an eighth of a pixel at this encoding.
std::vector<std::pair<std::uint32_t, std::uint32_t>> close_colours(
    const IdImage& image, const Palette& palette) {
  const auto& entries = palette.entries();
  const auto step = [&](double c) {
    switch (image.encoding) {
      case Encoding::kFloat:
        return 1e-6;
      case Encoding::kHalf:
        return std::max(c * 0x1p-10, 0x1p-23);
      default:  // one code, near this value
        return std::max(decode_code(image, encode_code(image, c) + 1) - c,
                        1.0 / image.full_code() / 12.92);
    }
  };
  std::vector<std::uint32_t> order(entries.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](auto a, auto b) {
    return entries[a].colour[0] < entries[b].colour[0];
  });
  std::vector<std::pair<std::uint32_t, std::uint32_t>> close;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const auto& a = entries[order[i]].colour;
    const double reach = 8 * step(a[0]) + 1e-12;
    for (std::size_t j = i + 1;
         j < order.size() && entries[order[j]].colour[0] - a[0] <= reach; ++j) {
      const auto& b = entries[order[j]].colour;
      bool near = true;
      for (int c = 0; c < 3; ++c)
        near = near && std::fabs(a[c] - b[c]) < 8 * step(std::max(a[c], b[c]));
      if (near)
        close.emplace_back(std::min(order[i], order[j]),
                           std::max(order[i], order[j]));
    }
  }
  std::sort(close.begin(), close.end());
  return close;
}

Palette palette_for(const Options& options, const IdImage& image) {
  if (!options.manifest.empty()) {
    const std::string text = refhost::read_scene_file(options.manifest);
    return Palette::from_manifest(text, quote(options.manifest), image);
  }
  if (!image.manifest.empty())
    return Palette::from_manifest(image.manifest, "the image's manifest",
                                  image);
  return Palette::from_pixels(image);
}

std::uint32_t entry_id(const Entry& entry) {
  return refhost::cryptomatte_id(entry.names.front());
}

// Rows of the Cryptomatte made at a time: a multiple of the 16 rows that
// OpenEXR compresses together, and enough of them to keep every thread busy.
constexpr int kBandRows = 128;

std::string cryptomatte_bytes(const IdImage& image, const Palette& palette,
                              const Unmixed& unmixed, int ranks, int threads) {
  const auto& entries = palette.entries();
  std::vector<std::uint32_t> entry_ids;
  entry_ids.reserve(entries.size());
  for (const Entry& e : entries) entry_ids.push_back(entry_id(e));
  // Made a band of rows at a time: the whole frame's ranks would be the
  // largest buffer of all, touched once.
  refhost::ExrPicture picture;
  picture.band_rows = std::min(kBandRows, image.height);
  refhost::RankedCoverage coverage(image.width, picture.band_rows, ranks);
  picture.fill_band = [&](int first_row, int rows) {
    refhost::for_each_row(threads, rows, [&](int row) {
      std::vector<std::pair<std::uint32_t, float>> pixel;
      const std::size_t first =
          static_cast<std::size_t>(first_row + row) * image.width;
      const std::size_t in_band = static_cast<std::size_t>(row) * image.width;
      for (std::size_t x = 0; x < static_cast<std::size_t>(image.width); ++x) {
        const Mix mix = unmixed.at(first + x);
        pixel.clear();
        for (int i = 0; i < mix.count; ++i) {
          const std::uint32_t id = entry_ids[mix.entry[i]];
          auto same =
              std::find_if(pixel.begin(), pixel.end(),
                           [&](const auto& q) { return q.first == id; });
          if (same == pixel.end()) same = pixel.insert(pixel.end(), {id, 0.0f});
          same->second += mix.coverage[i];
        }
        coverage.set(in_band + x, pixel);
      }
    });
  };
  picture.width = image.width;
  picture.height = image.height;
  for (int c = 0; c < 4; ++c)
    picture.channels.push_back(
        {std::string(1, "RGBA"[c]), image.rgba.data() + c, 4});
  if (!image.manifest.empty())
    picture.attributes.emplace_back("ravelTint/manifest", image.manifest);
  // Every name of an entry keys the entry: objects of one colour are one.
  std::vector<std::pair<std::string, std::uint32_t>> ids;
  for (const Entry& e : entries)
    for (const std::string& name : e.names) ids.emplace_back(name, entry_id(e));
  refhost::add_cryptomatte(picture, coverage, ids);
  return refhost::exr_bytes(picture);
}

int threads_for(const Options& options) {
  if (options.threads > 0) return options.threads;
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  return cores > 0 ? cores : 1;
}

void process(const Options& options, long frame) {
  const std::string image_path = frame_path(options.image, frame);
  refhost::OutputFile out{"--out", frame_path(options.out, frame), {}, {}};
  refhost::OutputFile crypto{
      "--cryptomatte", frame_path(options.cryptomatte, frame), {}, {}};
  refhost::OutputFile mask{
      "--unexplained", frame_path(options.unexplained, frame), {}, {}};
  std::vector<refhost::OutputFile*> outputs;
  for (refhost::OutputFile* o : {&out, &crypto, &mask})
    if (!o->path.empty()) outputs.push_back(o);
  refhost::Inputs inputs{image_path, options.manifest, "is the ID image"};
  refhost::check_outputs(outputs, inputs);

  refhost::set_exr_threads(threads_for(options));
  const IdImage image = read_id_image(image_path);
  const Palette palette = palette_for(options, image);
  const std::vector<std::uint32_t> selected =
      select_entries(palette, options.select);
  std::vector<bool> chosen(palette.entries().size(), false);
  for (std::uint32_t e : selected) chosen[e] = true;
  // A matte alone needs only the pixels that can hold what it selects.
  const bool matte_alone =
      crypto.path.empty() && mask.path.empty() && !out.path.empty();
  const Unmixed unmixed = unmix(image, palette, threads_for(options),
                                matte_alone ? &chosen : nullptr);
  if (!out.path.empty()) {
    std::vector<float> matte(image.pixels(), 0.0f);
    for (std::size_t p = 0; p < image.pixels(); ++p) {
      const Mix mix = unmixed.at(p);
      for (int i = 0; i < mix.count; ++i)
        if (chosen[mix.entry[i]]) matte[p] += mix.coverage[i];
    }
    out.bytes = mask_bytes(out.path, image.width, image.height, matte);
  }
  if (!crypto.path.empty())
    crypto.bytes = cryptomatte_bytes(image, palette, unmixed, options.ranks,
                                     threads_for(options));
  if (!mask.path.empty()) {
    std::vector<float> values(image.pixels(), 0.0f);
    for (std::size_t p = 0; p < image.pixels(); ++p)
      values[p] = unmixed.at(p).explained ? 0.0f : 1.0f;
    mask.bytes = mask_bytes(mask.path, image.width, image.height, values);
  }
  if (!outputs.empty()) refhost::commit_outputs(outputs);

  // The report.
  const auto& entries = palette.entries();
  std::size_t names = 0;
  for (const Entry& e : entries) names += e.names.size();
  std::printf("%s (%dx%d, %s): %s in %s\n", quote(image_path).c_str(),
              image.width, image.height, encoding_name(image.encoding).c_str(),
              count_of(names, "object").c_str(),
              count_of(entries.size(), "colour").c_str());
  std::printf("  %s explained (%zu mixed%s), %s unexplained\n",
              count_of(image.pixels() - unmixed.unexplained, "pixel").c_str(),
              unmixed.mixed,
              unmixed.partial ? ", unmixed near the selection only" : "",
              count_of(unmixed.unexplained, "pixel").c_str());
  for (const Entry& e : entries)
    if (e.names.size() > 1)
      std::printf("  one colour, %s, for %s: no matte parts them\n",
                  e.hex.c_str(), names_of(e.names).c_str());
  const auto close = close_colours(image, palette);
  for (std::size_t i = 0; i < close.size() && i < 10; ++i)
    std::printf("  %s and %s: colours too close for a %s to part their mix\n",
                quote(entries[close[i].first].names.front()).c_str(),
                quote(entries[close[i].second].names.front()).c_str(),
                encoding_name(image.encoding).c_str());
  if (close.size() > 10)
    std::printf("    and %s more\n",
                count_of(close.size() - 10, "pair").c_str());
  if (!selected.empty()) {
    std::vector<std::string> picked;
    for (std::uint32_t e : selected)
      picked.insert(picked.end(), entries[e].names.begin(),
                    entries[e].names.end());
    std::printf("  selected %s: %s\n",
                count_of(picked.size(), "object").c_str(),
                names_of(picked).c_str());
  }
  for (const refhost::OutputFile* o : outputs)
    std::printf("  %-13s %s\n", (o->option.substr(2) + ":").c_str(),
                quote(o->destination).c_str());
}

// One frame, with its failure reported and counted rather than raised.
bool process_frame(const Options& options, long frame) {
  try {
    process(options, frame);
    return true;
  } catch (const refhost::platform::Interrupted&) {
    throw;
  } catch (const std::bad_alloc&) {
    report_error("frame " + std::to_string(frame) + ": out of memory",
                 kFailure);
  } catch (const std::exception& e) {
    report_error("frame " + std::to_string(frame) + ": " + e.what(), kFailure);
  }
  return false;
}

}  // namespace

int run(int argc, const char* const* argv) {
  refhost::set_program_name("ravelTint-matte");
  return refhost::run_program([&] {
    Options options;
    if (const auto stop = parse_options(argc, argv, options)) return *stop;
    if (!options.frames) {
      process(options, 0);
      return 0;
    }
    std::size_t failed = 0;
    const long count = options.last_frame - options.first_frame + 1;
    for (long f = options.first_frame; f <= options.last_frame; ++f)
      failed += !process_frame(options, f);
    std::printf("%s of %s done", count_of(count - failed, "frame").c_str(),
                std::to_string(count).c_str());
    std::printf(failed ? ", %zu failed\n" : "\n", failed);
    return failed ? kFailure : 0;
  });
}

}  // namespace matte
