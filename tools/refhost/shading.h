// Calling the shader for an object, as the renderer does for a sample.
#pragma once

#include <cstdint>
#include <vector>

#include "host/records.h"
#include "tools/refhost/database.h"
#include "tools/refhost/library.h"

namespace refhost {

class Shader {
 public:
  Shader(const Library& library, Database& database)
      : library_(library), database_(database) {}

  host::Colour shade(std::size_t object) const;

 private:
  const Library& library_;
  Database& database_;
};

// An object's colour, and the seeds the shader handed to mi_srandom for it.
struct ObjectColour {
  std::vector<std::int32_t> seeds;
  host::Colour colour;
};

// Shades every object once, noting its seeds.
std::vector<ObjectColour> probe_objects(const Shader& shader,
                                        std::size_t objects);
// Shades one object once, noting its seeds.
ObjectColour probe_object(const Shader& shader, std::size_t object);

}  // namespace refhost
