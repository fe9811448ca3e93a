// Where names and colours come from: the reference host's manifests, and
// the colour records that the library writes in any renderer when
// RAVELTINT_RECORD asks (JSON lines: a header naming the format, then one
// object a line). Several files, or a folder of records (one a render node),
// make one list.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace matte {

struct Named {
  std::string name;
  std::array<double, 3> colour;  // the float32 the shader gave
};

struct Sources {
  std::vector<Named> objects;
  int samples = 0;  // a manifest's samples per pixel; 0 where none says
  // The names the records hold (0 where none was read), and the objects'
  // manifest as the image's header should carry it: the one manifest read,
  // compact, or one made of every object.
  std::size_t record_names = 0;
  std::string manifest;
};

// Reads each path: a manifest, a record, or a folder whose files are
// records. Throws common::Failure naming the file, and where one (name,
// seed, grayscale) has two colours: records from two generators.
Sources read_sources(const std::vector<std::string>& paths);

// The same for a manifest's text that an image carries.
Sources sources_of_text(const std::string& text, const std::string& origin);

// The record format's version that this tool reads.
inline constexpr int kRecordVersion = 1;

}  // namespace matte
