#include "tools/refhost/database.h"

#include "library/shader/records.h"

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
