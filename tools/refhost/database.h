// The renderer the shader sees: the scene database (tags, instance records
// laid out as the shader reads them, names, connected parameters, pins), the
// six renderer functions the executable exports and answers from it, with
// their generator, and shading an object as the renderer does for a sample.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/records.h"
#include "shader/parameters.h"
#include "tools/common/colour.h"
#include "tools/refhost/library.h"
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

// The reference host's random generator: SplitMix64, seeded with the 32 bits
// of the seed. Each draw is the top 24 bits of the next output, as a float in
// [0, 1). The shader relies on the first draw after its own seed, so every
// thread keeps a generator of its own.
namespace refhost {

class SplitMix64 {
 public:
  void seed(std::int32_t seed) { state_ = static_cast<std::uint32_t>(seed); }

  float draw() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return static_cast<float>(z >> 40) * (1.0f / 16777216.0f);
  }

 private:
  std::uint64_t state_ = 0;
};

}  // namespace refhost

// The six renderer functions that the reference host exports from its own
// executable, and what they work on.
namespace refhost {

class Database;

// The database the renderer functions answer from; set while rendering.
void set_active_database(Database* database);

// While set on a thread, the seeds that mi_srandom receives there are noted.
void set_seed_probe(std::vector<std::int32_t>* probe);

// The renderer functions answer from `database` while this lives.
struct ActiveDatabase {
  explicit ActiveDatabase(Database& database) {
    set_active_database(&database);
  }
  ~ActiveDatabase() { set_active_database(nullptr); }
  ActiveDatabase(const ActiveDatabase&) = delete;
  ActiveDatabase& operator=(const ActiveDatabase&) = delete;
};

}  // namespace refhost

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
