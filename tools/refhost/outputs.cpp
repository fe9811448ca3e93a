#include "tools/refhost/outputs.h"

#include <algorithm>
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
  for (std::size_t i = 0; i < input.close_pairs.size(); ++i) {
    const ClosePair& pair = input.close_pairs[i];
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
  json.raw(input.close_pairs.empty() ? "]" : "\n  ]");
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

void remove_stale_temporaries(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (is_stale_temporary(entry.path().filename().string()))
      fs::remove(entry.path(), error);
}

void remove_all(const std::vector<std::string>& files) {
  std::error_code error;
  for (const std::string& file : files) fs::remove(file, error);
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

bool is_stale_temporary(const std::string& name) {
  const std::string prefix = ".refhost-" + platform::host_name() + "-";
  const std::string suffix = ".partial";
  if (name.rfind(prefix, 0) != 0 ||
      name.size() <= prefix.size() + suffix.size() ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const std::string rest = name.substr(prefix.size());
  const std::size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string::npos ||
      rest.find_first_not_of("0123456789") != dot || dot > 10)
    return false;
  const unsigned long id = std::stoul(rest.substr(0, dot));
  return id != platform::process_id() && !platform::process_alive(id);
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
        {inputs.scene, "is the scene file"},
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
  const platform::HeldInterrupts held;
  std::vector<std::string> temporaries;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const OutputFile& output = *outputs[i];
    const std::string temporary =
        (fs::path(folder_of(output.destination)) / temporary_name(i)).string();
    // A file of this name can only be left by a dead process that had this
    // one's number: it is replaced.
    std::error_code ignored;
    fs::remove(temporary, ignored);
    const std::string error =
        platform::write_new_file(temporary, output.bytes, output.destination);
    if (!error.empty()) {
      remove_all(temporaries);
      throw Failure("cannot write " + shown(output) + ": " + error);
    }
    temporaries.push_back(temporary);
  }
  std::vector<platform::FolderLock> locks;
  try {
    for (const std::string& folder : folders_of(outputs)) {
      locks.emplace_back(folder);
      remove_stale_temporaries(folder);
    }
    // What appeared at a destination since the check is refused too.
    for (const OutputFile* output : outputs) require_regular(*output);
  } catch (...) {
    remove_all(temporaries);
    throw;
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string error =
        platform::replace_file(temporaries[i], outputs[i]->destination);
    if (error.empty()) continue;
    remove_all({temporaries.begin() + static_cast<std::ptrdiff_t>(i),
                temporaries.end()});
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
