// The renderer functions that the reference host exports from its own
// executable, the database they answer from and their random generator.
#pragma once

#include <cstdint>
#include <vector>

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
