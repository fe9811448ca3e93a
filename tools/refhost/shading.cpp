#include "tools/refhost/shading.h"

#include "tools/refhost/renderer_functions.h"

namespace refhost {

host::Colour Shader::shade(std::size_t object) const {
  host::StateLayout state{};
  state.instance = Database::instance_tag(object);
  state.shader = database_.shader_record();
  host::Colour colour{};
  library_.shade(&colour, reinterpret_cast<host::State*>(&state),
                 database_.parameters(object));
  return colour;
}

ObjectColour probe_object(const Shader& shader, std::size_t object) {
  ObjectColour result;
  set_seed_probe(&result.seeds);
  result.colour = shader.shade(object);
  set_seed_probe(nullptr);
  return result;
}

std::vector<ObjectColour> probe_objects(const Shader& shader,
                                        std::size_t objects) {
  std::vector<ObjectColour> result;
  result.reserve(objects);
  for (std::size_t i = 0; i < objects; ++i)
    result.push_back(probe_object(shader, i));
  return result;
}

}  // namespace refhost
