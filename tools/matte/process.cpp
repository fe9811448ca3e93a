#include "tools/matte/process.h"

#include <new>

#include "tools/common/commit.h"
#include "tools/common/errors.h"
#include "tools/common/exr_file.h"
#include "tools/common/quoting.h"
#include "tools/common/workers.h"
#include "tools/matte/id_image.h"
#include "tools/matte/outputs.h"
#include "tools/matte/palette.h"
#include "tools/matte/report.h"
#include "tools/matte/selection.h"
#include "tools/matte/unmix.h"

namespace matte {

using common::quote;

namespace {

// The threads asked for (every core by default), as many as the system
// starts.
int threads_for(const Options& options) {
  return common::usable_threads(common::default_threads(options.threads));
}

// The palette, and the manifest it came from as an EXR's header carries it:
// the manifests or records asked for, the image's own, or the colours found
// in its pixels (no manifest).
Palette palette_for(const Options& options, const IdImage& image,
                    Sources& sources) {
  if (!options.manifests.empty())
    sources = read_sources(options.manifests);
  else if (!image.manifest.empty())
    sources = sources_of_text(image.manifest, "the image's manifest");
  else
    return Palette::from_pixels(image);
  return Palette::from_sources(sources, image);
}

}  // namespace

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

namespace {

void process_image(const Options& options, const std::string& image_path,
                   long frame) {
  common::OutputFile out{"--out", frame_path(options.out, frame), {}, {}};
  common::OutputFile crypto{
      "--cryptomatte", frame_path(options.cryptomatte, frame), {}, {}};
  common::OutputFile unexplained{
      "--unexplained", frame_path(options.unexplained, frame), {}, {}};
  common::OutputFile inferred{
      "--inferred", frame_path(options.inferred, frame), {}, {}};
  std::vector<common::OutputFile*> outputs;
  for (common::OutputFile* o : {&out, &crypto, &unexplained, &inferred})
    if (!o->path.empty()) outputs.push_back(o);
  common::Inputs inputs{{image_path, "is the ID image"}};
  for (const std::string& manifest : options.manifests)
    inputs.push_back({manifest, "is a manifest or record read"});
  common::check_outputs(outputs, inputs);

  const int threads = threads_for(options);
  common::set_exr_threads(threads);
  const IdImage image = read_id_image(image_path, options.layer);
  Sources sources;
  const Palette palette = palette_for(options, image, sources);
  const std::vector<std::uint32_t> selected =
      select_entries(palette, options.select);
  std::vector<bool> chosen(palette.entries().size(), false);
  for (std::uint32_t e : selected) chosen[e] = true;
  // One unmixing behind every output and the report.
  const Unmixed unmixed = unmix(image, palette, threads);
  warn_if_mostly_unexplained(image_path, options.manifests, unmixed);
  if (!out.path.empty())
    out.bytes = mask_bytes(out.path, image, matte_of(unmixed, chosen));
  if (!crypto.path.empty())
    crypto.bytes = cryptomatte_bytes(image, palette, unmixed, options.ranks,
                                     threads, sources.manifest);
  if (!unexplained.path.empty())
    unexplained.bytes =
        mask_bytes(unexplained.path, image, mask_of(unmixed, [](const Mix& m) {
                     return m.how == Decided::kUnexplained;
                   }));
  if (!inferred.path.empty())
    inferred.bytes =
        mask_bytes(inferred.path, image, mask_of(unmixed, [](const Mix& m) {
                     return m.how == Decided::kNeighbours;
                   }));
  if (!outputs.empty()) common::commit_outputs(outputs);
  std::vector<Written> written;
  for (const common::OutputFile* o : outputs)
    written.push_back({o->option, o->destination});
  report(image_path, image, palette, sources, unmixed, selected, written);
}

}  // namespace

void process(const Options& options, long frame) {
  const std::string image_path = frame_path(options.image, frame);
  try {
    process_image(options, image_path, frame);
  } catch (const std::bad_alloc&) {
    // Which image was too large to hold, not merely that memory ran out.
    throw common::Failure(quote(image_path) + ": out of memory");
  }
}

}  // namespace matte
