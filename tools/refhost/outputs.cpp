#include "tools/refhost/outputs.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>

#include "tools/refhost/library.h"
#include "tools/refhost/platform.h"
#include "tools/refhost/text.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace refhost {

namespace {

std::uint32_t crc32(const unsigned char* bytes, std::size_t n) {
  std::uint32_t crc = 0xffffffffu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void put_be32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out += static_cast<char>((value >> shift) & 0xff);
}

// A PNG chunk: length, type, data and the CRC of type and data.
std::string chunk(const char* type, const std::string& data) {
  std::string body = std::string(type, 4) + data;
  std::string out;
  put_be32(out, static_cast<std::uint32_t>(data.size()));
  out += body;
  put_be32(out, crc32(reinterpret_cast<const unsigned char*>(body.data()),
                      body.size()));
  return out;
}

// What the PNG holds: sRGB, said three ways. sRGB for every reader that
// knows it; gAMA (1/2.2) and cHRM (the sRGB primaries and D65 white, in
// hundred-thousandths) for those that do not.
std::string colour_space_chunks() {
  std::string gamma, primaries;
  put_be32(gamma, 45455);
  for (std::uint32_t v :
       {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u})
    put_be32(primaries, v);
  return chunk("sRGB", std::string(1, '\0')) + chunk("gAMA", gamma) +
         chunk("cHRM", primaries);
}

}  // namespace

std::string png_bytes(const Image& image) {
  std::string bytes;
  auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                               static_cast<std::size_t>(size));
  };
  stbi_write_png_to_func(append, &bytes, image.width, image.height, 4,
                         image.rgba.data(), image.width * 4);
  // The colour-space chunks go right after IHDR (8 bytes of signature, then
  // 25 of IHDR), before the image data, as PNG requires.
  constexpr std::size_t kAfterHeader = 8 + 25;
  bytes.insert(kAfterHeader, colour_space_chunks());
  return bytes;
}

std::string compact_json(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool in_string = false, escaped = false;
  for (const char c : text) {
    if (in_string) {
      out += c;
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c != ' ' && c != '\n') {
      out += c;
      in_string = c == '"';
    }
  }
  return out;
}

namespace {

constexpr const char* kLinearSpace =
    "linear sRGB: Rec. 709 primaries, D65 white, no transfer curve";
constexpr const char* kEncodedSpace =
    "sRGB: the sRGB transfer curve, 8 bits a channel, as the PNG holds it";

void put_object(JsonText& json, const Scene& scene, std::size_t index,
                const ObjectColour& o, const Coverage& coverage,
                int samples_per_pixel) {
  const Object& object = scene.objects[index];
  const host::Colour& c = o.colour;
  json.raw("    {\"index\": ").number(static_cast<long long>(index));
  json.raw(", \"name\": ").string(object.name);
  json.raw(", \"shape\": ").string(shape_name(object.shape));
  json.raw(", \"seed\": ")
      .number(static_cast<long long>(object.seed.value_or(scene.seed)));
  json.raw(", \"seeds\": ").seeds(o.seeds);
  json.raw(", \"colour\": [").number(c.red).raw(", ").number(c.green);
  json.raw(", ").number(c.blue).raw("], \"hex\": ").string(hex_colour(c));
  json.raw(", \"grey\": ").boolean(is_grey(o.seeds));
  json.raw(", \"pixels\": ").number(static_cast<long long>(coverage.pixels));
  json.raw(", \"coverage\": ")
      .number(static_cast<double>(coverage.samples) / samples_per_pixel)
      .raw("}");
}

template <typename Group, typename Key>
void put_groups(JsonText& json, const char* name,
                const std::vector<Group>& groups, Key put_key) {
  json.raw(",\n  \"").raw(name).raw("\": [");
  for (std::size_t g = 0; g < groups.size(); ++g) {
    json.raw(g ? ",\n    {" : "\n    {");
    put_key(groups[g]);
    json.raw(", \"objects\": ").list(groups[g].objects, [&](std::size_t i) {
      json.number(static_cast<long long>(i));
    });
    json.raw("}");
  }
  json.raw(groups.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string manifest_text(const ManifestInput& input) {
  const Scene& scene = input.scene;
  const RenderSettings& settings = input.settings;
  JsonText json;
  json.raw("{\n  \"manifest_version\": ").number(kManifestVersion);
  json.raw(",\n  \"colour_spaces\": {\"colour\": ").string(kLinearSpace);
  json.raw(", \"hex\": ").string(kEncodedSpace).raw("},\n");
  json.raw("  \"shader\": {\"name\": \"ravelTint\", \"version\": ")
      .number(kShaderVersion)
      .raw(", ")
      .raw("\"seed\": ")
      .number(static_cast<long long>(scene.seed))
      .raw(", \"grayscale\": ")
      .boolean(scene.grayscale);
  json.raw("},\n  \"image\": {\"width\": ").number(settings.width);
  json.raw(", \"height\": ").number(settings.height);
  json.raw(", \"samples_per_pixel\": ")
      .number(settings.samples * settings.samples);
  json.raw(", \"png\": {\"file\": ").string(input.png_name);
  json.raw(", \"sha256\": ").string(input.png_sha256).raw("}},\n");
  json.raw("  \"objects\": [");
  const int samples = settings.samples * settings.samples;
  for (std::size_t i = 0; i < input.objects.size(); ++i) {
    json.raw(i ? ",\n" : "\n");
    put_object(json, scene, i, input.objects[i], input.coverage[i], samples);
  }
  json.raw(input.objects.empty() ? "]" : "\n  ]");
  put_groups(
      json, "collisions", input.groups.seeds,
      [&](const CollisionGroup& g) { json.raw("\"seeds\": ").seeds(g.seeds); });
  put_groups(
      json, "colour_groups", input.groups.colours,
      [&](const ColourGroup& g) { json.raw("\"hex\": ").string(g.hex); });
  json.raw(",\n  \"close_threshold\": ").number(input.close_threshold);
  json.raw(",\n  \"close_pairs\": [");
  const std::vector<ClosePair>& pairs = input.close_pairs.pairs;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const ClosePair& pair = pairs[i];
    char difference[32];
    std::snprintf(difference, sizeof difference, "%.2f", pair.difference);
    json.raw(i ? ",\n    {\"objects\": [" : "\n    {\"objects\": [")
        .number(static_cast<long long>(pair.first))
        .raw(", ")
        .number(static_cast<long long>(pair.second))
        .raw("], \"difference\": ")
        .raw(difference)
        .raw(", \"touching\": ")
        .boolean(pair.touching)
        .raw("}");
  }
  json.raw(pairs.empty() ? "]" : "\n  ]");
  json.raw(",\n  \"close_pairs_left_out\": ")
      .number(static_cast<long long>(input.close_pairs.left_out));
  json.raw(",\n  \"close_pairs_touching_only\": ")
      .boolean(input.close_pairs.touching_only);
  json.raw("\n}\n");
  return json.take();
}

}  // namespace refhost

namespace refhost {

namespace fs = std::filesystem;

namespace {

std::string shown(const OutputFile& output) {
  return output.option + " " + quote(output.path);
}

// A stream of this process under a name: /dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/PID/fd/N.
bool names_a_stream(const std::string& path) {
  const std::string normal =
      fs::absolute(path).lexically_normal().generic_string();
  if (normal.rfind("/dev/std", 0) == 0 || normal.rfind("/dev/fd/", 0) == 0)
    return true;
  const std::size_t fd = normal.find("/fd/");
  return normal.rfind("/proc/", 0) == 0 && fd != std::string::npos &&
         normal.find('/', 6) == fd;
}

// Where the path leads: a symbolic link is followed to the file it names,
// which is written and the link kept. A link that leads nowhere, or in a
// loop, is an error, never replaced by a plain file.
std::string destination_of(const OutputFile& output) {
  std::error_code error;
  const fs::path absolute = fs::absolute(output.path, error);
  if (fs::is_symlink(fs::symlink_status(absolute, error))) {
    const fs::path target = fs::canonical(absolute, error);
    if (error)
      throw Failure("cannot write " + shown(output) + ": " + error.message());
    return target.string();
  }
  const fs::path folder = fs::canonical(absolute.parent_path(), error);
  if (error || !fs::is_directory(folder))
    throw Failure("cannot write " + shown(output) + ": no such folder " +
                  quote(absolute.parent_path().string()));
  return (folder / absolute.filename()).string();
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

// A destination that exists and is not a regular file is never replaced.
void require_regular(const OutputFile& output) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(output.destination, error);
  if (fs::exists(status) && !fs::is_regular_file(status))
    throw UsageFailure(shown(output) +
                       ": exists and is not a regular file; refhost "
                       "replaces regular files only");
}

std::string folder_of(const std::string& destination) {
  return fs::path(destination).parent_path().string();
}

void remove_abandoned_temporaries(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (is_temporary_name(entry.path().filename().string()))
      platform::remove_if_abandoned(entry.path().string());
}

// This run's temporaries: each let go of, then removed.
void remove_all(std::vector<platform::HeldFile>& held,
                const std::vector<std::string>& files) {
  std::error_code error;
  for (std::size_t i = 0; i < files.size(); ++i) {
    held[i].release();
    fs::remove(files[i], error);
  }
}

// A number for each temporary of this process, never used twice.
std::atomic<std::size_t> next_temporary{0};

// Writes the output's bytes to a new temporary file beside its destination,
// held as live until the commit ends, and returns its path. A name that is
// taken (a live run of another container with this process's number, or a
// file left behind) is passed over for the next.
std::string write_temporary(const OutputFile& output,
                            platform::HeldFile& held) {
  const fs::path folder = folder_of(output.destination);
  for (int tries = 0; tries < 1000; ++tries) {
    const std::string path =
        (folder / temporary_name(next_temporary++)).string();
    bool exists = false;
    const std::string error =
        held.create(path, output.bytes, output.destination, exists);
    if (!exists && !error.empty())
      throw Failure("cannot write " + shown(output) + ": " + error);
    if (!exists) return path;
  }
  throw Failure("cannot write " + shown(output) +
                ": every name for a temporary file beside it is taken");
}

void say_waiting(const std::string& folder) {
  std::fprintf(stderr,
               "refhost: waiting for the folder %s, held by another run\n",
               quote(folder).c_str());
  std::fflush(stderr);
}

// The folders of the outputs, each once, in one order for every run, so
// that two runs never wait for each other's locks in a circle.
std::vector<std::string> folders_of(const std::vector<OutputFile*>& outputs) {
  std::vector<std::string> folders;
  for (const OutputFile* output : outputs)
    folders.push_back(folder_of(output->destination));
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  return folders;
}

}  // namespace

std::string temporary_name(std::size_t n) {
  return ".refhost-" + platform::host_name() + "-" +
         std::to_string(platform::process_id()) + "." + std::to_string(n) +
         ".partial";
}

bool is_temporary_name(const std::string& name) {
  const std::string prefix = ".refhost-" + platform::host_name() + "-";
  const std::string suffix = ".partial";
  if (name.rfind(prefix, 0) != 0 ||
      name.size() <= prefix.size() + suffix.size() ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const std::string numbers =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const std::size_t dot = numbers.find('.');
  return dot != 0 && dot != std::string::npos && dot + 1 < numbers.size() &&
         numbers.find_first_not_of("0123456789.") == std::string::npos &&
         numbers.find('.', dot + 1) == std::string::npos;
}

void check_outputs(const std::vector<OutputFile*>& outputs,
                   const Inputs& inputs) {
  const std::string program = platform::program_path();
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    OutputFile& output = *outputs[i];
    if (names_a_stream(output.path))
      throw UsageFailure(shown(output) +
                         ": names a stream of this process, not a file");
    output.destination = destination_of(output);
    const std::pair<const std::string&, const char*> files[] = {
        {inputs.scene, inputs.scene_is},
        {inputs.library, "is the library"},
        {program, "is this program"}};
    for (const auto& [file, what] : files)
      if (!file.empty() && same_file(output.destination, file))
        throw UsageFailure(shown(output) + ": " + what);
    for (std::size_t j = 0; j < i; ++j)
      if (output.destination == outputs[j]->destination ||
          same_file(output.destination, outputs[j]->destination))
        throw UsageFailure(shown(output) + ": is also " + outputs[j]->option);
    if (platform::is_standard_stream(output.destination))
      throw UsageFailure(shown(output) +
                         ": is this program's standard input, output or "
                         "error");
    require_regular(output);
  }
}

void commit_outputs(const std::vector<OutputFile*>& outputs) {
  const platform::HeldInterrupts held_interrupts;
  std::vector<platform::HeldFile> held(outputs.size());
  std::vector<std::string> temporaries;
  std::vector<platform::FolderLock> locks;
  try {
    for (std::size_t i = 0; i < outputs.size(); ++i)
      temporaries.push_back(write_temporary(*outputs[i], held[i]));
    for (const std::string& folder : folders_of(outputs)) {
      locks.emplace_back(folder, [&] { say_waiting(folder); });
      remove_abandoned_temporaries(folder);
    }
    // What appeared at a destination since the check is refused too.
    for (const OutputFile* output : outputs) require_regular(*output);
  } catch (...) {
    remove_all(held, temporaries);
    throw;
  }
  // No other run looks for abandoned files in a locked folder.
  for (platform::HeldFile& file : held) file.release();
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string error =
        platform::replace_file(temporaries[i], outputs[i]->destination);
    if (error.empty()) continue;
    std::error_code ignored;
    for (std::size_t j = i; j < temporaries.size(); ++j)
      fs::remove(temporaries[j], ignored);
    std::string replaced;
    for (std::size_t j = 0; j < i; ++j)
      replaced += (j ? ", " : "; already replaced: ") + shown(*outputs[j]);
    throw Failure("cannot write " + shown(*outputs[i]) + ": " + error +
                  replaced);
  }
  for (const std::string& folder : folders_of(outputs))
    platform::sync_folder(folder);
}

}  // namespace refhost
