// The reference host's files, encoded (PNG, manifest, EXR) and committed.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/refhost/render.h"
#include "tools/refhost/report.h"
#include "tools/refhost/scene.h"

// The reference host's files: the object-ID image, the manifest and an
// optional EXR image, and how they replace what was there.
namespace refhost {

// The manifest's format; docs/manifest.md describes it.
inline constexpr int kManifestVersion = 2;

struct ManifestInput {
  const Scene& scene;
  const RenderSettings& settings;
  const std::vector<ObjectColour>& objects;
  const Groups& groups;
  const std::vector<Coverage>& coverage;  // by object
  const ClosePairs& close_pairs;
  double close_threshold;
  const std::string& png_name;  // the image the manifest belongs to
  const std::string& png_sha256;
};

// The PNG: sRGB-encoded colour, straight linear alpha, and the sRGB, gAMA
// and cHRM chunks that say so.
std::string png_bytes(const Image& image);
std::string manifest_text(const ManifestInput& input);
// The same JSON without any space or line break outside its strings.
std::string compact_json(const std::string& text);

// Throws UsageFailure where the build has no OpenEXR (Windows), so that
// --exr is refused before anything is rendered.
void require_exr_support();

// The OpenEXR image: RGBA as 32-bit float, premultiplied, with the manifest
// in the header attribute "ravelTint/manifest".
std::string exr_bytes(const Image& image, const std::string& manifest);

// A file to write: the option that named it, its path, where it really
// leads (symbolic links followed) and its bytes.
struct OutputFile {
  std::string option;
  std::string path;
  std::string bytes;
  std::string destination;
};

// The files that a run reads, which no output may replace.
struct Inputs {
  std::string scene;  // empty: the built-in scene
  std::string library;
  const char* scene_is = "is the scene file";  // or the names file
};

// Checks the destinations before anything is rendered, and fills in each
// one's destination. An output may not be an input (the scene, the library,
// this program), another output, or a stream of this process (its standard
// input, output or error, whatever the name, and /dev/std*, /dev/fd/*,
// /proc/*/fd/*): the files themselves are compared, not their names. One
// that exists must be a regular file: an output never replaces a device, a
// pipe or a folder. A symbolic link writes the file it leads to, and one
// that leads nowhere is an error. Throws UsageFailure, or Failure when the
// output cannot be written at all (its folder is missing).
void check_outputs(const std::vector<OutputFile*>& outputs,
                   const Inputs& inputs);

// Replaces every destination with its new bytes. Each is written to a
// temporary file beside it (".refhost-HOST-PID.N.partial"), flushed, and
// renamed over it in one atomic step, so that a destination is always its
// old file or its new one, never missing or partly written. Runs that commit
// into the same folders wait for each other (saying so on standard error);
// interrupts wait for the renames, but end a wait for another run; the
// temporaries that no live run holds in those folders are removed. Throws
// Failure naming the path, or platform::Interrupted; a failure before the
// first rename leaves every destination as it was.
void commit_outputs(const std::vector<OutputFile*>& outputs);

// The name of this process's temporary file number `n`, and whether a name
// is one of a temporary of this machine's runs.
std::string temporary_name(std::size_t n);
bool is_temporary_name(const std::string& name);

}  // namespace refhost

// JSON written as text, piece by piece: a manifest of a million objects
// needs no document of them in memory.
namespace refhost {

class JsonText {
 public:
  JsonText& raw(std::string_view text) {
    out_.append(text);
    return *this;
  }
  // A string as JSON writes it. Names are valid UTF-8 (the scene's parser
  // sees to that) and keep their exact bytes; controls are escaped.
  JsonText& string(std::string_view text) {
    out_ += '"';
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        out_ += '\\';
        out_ += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        out_ += escape;
      } else {
        out_ += c;
      }
    }
    out_ += '"';
    return *this;
  }
  JsonText& number(long long n) { return raw(std::to_string(n)); }
  JsonText& number(int n) { return number(static_cast<long long>(n)); }
  JsonText& number(double d) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, d).ptr;
    return raw(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
  // The shortest text that reads back as the same float.
  JsonText& number(float f) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, f).ptr;
    return raw(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
  JsonText& boolean(bool b) { return raw(b ? "true" : "false"); }
  template <typename T, typename Put>
  JsonText& list(const std::vector<T>& items, Put put) {
    raw("[");
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i) raw(", ");
      put(items[i]);
    }
    return raw("]");
  }
  JsonText& seeds(const std::vector<std::int32_t>& seeds) {
    return list(seeds,
                [&](std::int32_t s) { number(static_cast<long long>(s)); });
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

}  // namespace refhost
