// Shading an object as the renderer does for a sample, and noting the seeds
// the shader asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "library/shader/records.h"
#include "tools/common/colour.h"
#include "tools/refhost/database.h"
#include "tools/refhost/library.h"

// Calling the shader for an object, as the renderer does for a sample.
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
  // The colour without its alpha, as files and people see it.
  common::Rgb rgb() const { return {colour.red, colour.green, colour.blue}; }
};

// Shades every object once, noting its seeds.
std::vector<ObjectColour> probe_objects(const Shader& shader,
                                        std::size_t objects);
// Shades one object once, noting its seeds.
ObjectColour probe_object(const Shader& shader, std::size_t object);

}  // namespace refhost
