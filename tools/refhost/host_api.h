// The six renderer functions that the reference host exports from its own
// executable, and what they work on.
#pragma once

#include <cstdint>
#include <vector>

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
