// The renderer's scene database as the shader sees it: tags, instance
// records laid out as the shader reads them, names, connected parameters and
// pins.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "library/shader/parameters.h"
#include "library/shader/records.h"
#include "tools/refhost/scene.h"

// The reference host's scene database: tags, instance records laid out as the
// shader reads them, element names, connected parameters and pin counts.
namespace refhost {

// The shader's parameter block, with a connection tag kept beside each
// parameter, kConnectionOffset bytes beyond its value.
struct ParameterBlock {
  shader::Parameters parameters;
  host::Tag seed_connection;
  host::Tag grayscale_connection;
};
constexpr std::int32_t kConnectionOffset = 8;
static_assert(offsetof(ParameterBlock, seed_connection) ==
              offsetof(shader::Parameters, seed) + kConnectionOffset);
static_assert(offsetof(ParameterBlock, grayscale_connection) ==
              offsetof(shader::Parameters, grayscale) + kConnectionOffset);

class Database {
 public:
  Database(const Scene& scene, std::int32_t seed, bool grayscale);

  std::size_t size() const { return elements_.size(); }
  // Each object has an instance and a named element, both tagged.
  static host::Tag instance_tag(std::size_t object) { return 2 * object + 1; }
  static host::Tag item_tag(std::size_t object) { return 2 * object + 2; }

  // What the renderer functions answer.
  const void* access(host::Tag tag);  // pins an instance; null otherwise
  void unpin(host::Tag tag);
  const char* name(host::Tag tag) const;  // of a named element; or null
  const std::int32_t* evaluate(const host::State* state,
                               const void* parameter) const;

  // What the shader is handed for an object.
  const host::ShaderRecordLayout* shader_record() const { return &shader_; }
  ParameterBlock* parameters(std::size_t object) {
    return &elements_[object].block;
  }
  void set_seed(std::int32_t seed);  // for objects without their own
  // Gives one object a seed of its own, connected as a scene's would be.
  void set_object_seed(std::size_t object, std::int32_t seed);

  long pins() const { return pins_.load(); }

 private:
  struct Element {
    host::InstanceLayout instance{};
    const char* name;  // the scene's own, which outlives the database
    ParameterBlock block{};
    std::int32_t connected_seed = 0;  // the value mi_phen_eval returns
  };
  // The object an instance or item tag belongs to, or size() if none.
  std::size_t object_of(host::Tag tag, bool instance) const;

  std::vector<Element> elements_;
  host::ShaderRecordLayout shader_{};
  std::atomic<long> pins_{0};
};

}  // namespace refhost
