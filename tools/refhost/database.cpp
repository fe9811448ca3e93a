#include "tools/refhost/database.h"

#include <cstdarg>
#include <cstdio>

#include "host/records.h"
#include "ravelTint/renderer.h"
#include "tools/common/text.h"

namespace refhost {

Database::Database(const Scene& scene, std::int32_t seed, bool grayscale)
    : elements_(scene.objects.size()) {
  shader_.connection_offset = kConnectionOffset;
  for (std::size_t i = 0; i < elements_.size(); ++i) {
    Element& e = elements_[i];
    e.instance.item = item_tag(i);
    e.name = scene.objects[i].name.c_str();
    e.block.parameters = {seed, grayscale ? 1 : 0};
    if (scene.objects[i].seed) {
      // A per-object seed is a connection that the renderer evaluates.
      e.block.seed_connection = item_tag(i);
      e.connected_seed = *scene.objects[i].seed;
    }
  }
}

void Database::set_object_seed(std::size_t object, std::int32_t seed) {
  elements_[object].block.seed_connection = item_tag(object);
  elements_[object].connected_seed = seed;
}

void Database::set_seed(std::int32_t seed) {
  for (Element& e : elements_) e.block.parameters.seed = seed;
}

std::size_t Database::object_of(host::Tag tag, bool instance) const {
  if (tag == 0 || (tag % 2 == 1) != instance) return elements_.size();
  const std::size_t object = (tag - 1) / 2;
  return object < elements_.size() ? object : elements_.size();
}

const void* Database::access(host::Tag tag) {
  const std::size_t object = object_of(tag, true);
  if (object == elements_.size()) return nullptr;
  pins_.fetch_add(1, std::memory_order_relaxed);
  return &elements_[object].instance;
}

void Database::unpin(host::Tag tag) {
  if (object_of(tag, true) != elements_.size())
    pins_.fetch_sub(1, std::memory_order_relaxed);
}

const char* Database::name(host::Tag tag) const {
  const std::size_t object = object_of(tag, false);
  return object == elements_.size() ? nullptr : elements_[object].name;
}

const std::int32_t* Database::evaluate(const host::State* state,
                                       const void* parameter) const {
  const std::size_t object = object_of(host::state_instance(state), true);
  if (object == elements_.size()) return nullptr;
  const Element& e = elements_[object];
  if (parameter != &e.block.parameters.seed) return nullptr;
  return &e.connected_seed;
}

}  // namespace refhost

namespace refhost {

namespace {
Database* active;
thread_local SplitMix64 generator;
thread_local std::vector<std::int32_t>* probe;
}  // namespace

void set_active_database(Database* database) { active = database; }
void set_seed_probe(std::vector<std::int32_t>* seeds) { probe = seeds; }

}  // namespace refhost

using refhost::active;

// The renderer functions the shader calls, exported from the executable so
// that the library finds them by name in the module handed to it.

RAVELTINT_RENDERER_EXPORT void* mi_phen_eval(host::State* state,
                                             void* parameter) {
  return const_cast<std::int32_t*>(active->evaluate(state, parameter));
}

RAVELTINT_RENDERER_EXPORT void* mi_db_access(host::Tag tag) {
  return const_cast<void*>(active->access(tag));
}

RAVELTINT_RENDERER_EXPORT void mi_db_unpin(host::Tag tag) {
  active->unpin(tag);
}

// Declared as the renderer declares it; the library only reads the name.
RAVELTINT_RENDERER_EXPORT char* mi_api_tag_lookup(host::Tag tag) {
  return const_cast<char*>(active->name(tag));
}

RAVELTINT_RENDERER_EXPORT void mi_srandom(std::int32_t seed) {
  if (refhost::probe) refhost::probe->push_back(seed);
  refhost::generator.seed(seed);
}

RAVELTINT_RENDERER_EXPORT float mi_random() {
  return refhost::generator.draw();
}

// The renderer's log: one printable line on standard error.
RAVELTINT_RENDERER_EXPORT std::intptr_t mi_warning(const char* format, ...) {
  char text[1024];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "%s: warning: %s\n", common::program_name(),
               common::printable_line(text).c_str());
  return 0;
}

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
