#include "tools/refhost/shading.h"

#include "tools/refhost/host_api.h"

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

std::vector<ObjectColour> probe_objects(const Shader& shader,
                                        std::size_t objects) {
  std::vector<ObjectColour> result(objects);
  for (std::size_t i = 0; i < objects; ++i) {
    set_seed_probe(&result[i].seeds);
    result[i].colour = shader.shade(i);
  }
  set_seed_probe(nullptr);
  return result;
}

}  // namespace refhost
