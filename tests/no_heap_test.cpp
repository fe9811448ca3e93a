// The library's own code never allocates: not in the shader, not in an entry,
// not in a message. This program replaces malloc and its kin (and operator
// new) for the whole process, the library included, and counts what the
// library's calls ask for once their entries are resolved.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

#include "library/dynload/variadic.h"
#include "ravelTint/ravelTint.h"
#include "support/module.hpp"
#include "tests/hosts/shader_host.h"
#include "tests/hosts/signatures.h"
#include "tests/support/library.h"
#include "tests/support/shading.h"

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void note() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}

// The allocations that `body` makes.
template <typename Body>
long allocations_of(Body&& body) {
  allocations = 0;
  counting = true;
  body();
  counting = false;
  return allocations.load();
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  note();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  note();
  return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) {
  note();
  return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  note();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  note();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** block, std::size_t alignment, std::size_t size) {
  note();
  *block = __libc_memalign(alignment, size);
  return *block ? 0 : ENOMEM;
}
void free(void* block) { __libc_free(block); }
}

void* operator new(std::size_t size) {
  note();
  if (void* block = __libc_malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { __libc_free(block); }
void operator delete(void* block, std::size_t) noexcept { __libc_free(block); }

namespace {

using testing_support::library;

// With the colour record on: the grey object in the counted calls is a new
// one, whose line is made and written there.
TEST(NoHeap, ShaderCallsAllocateNothing) {
  std::remove("no_heap_record.jsonl");
  setenv("RAVELTINT_RECORD", "no_heap_record.jsonl", 1);
  const shader_host::Module host = shader_host::open();
  testing_support::ShadingSetup setup(7, 9);
  host.put(7, &setup.instance, nullptr);
  host.put(9, nullptr, "a name long enough to take every block of the hash");
  setup.set_parameters(42, 0);
  setup.connect(0, 16, 1);
  const std::int32_t evaluated = 5;
  host.set_evaluated(&evaluated);
  library().set_module_handle(host.module);
  host::Colour colour{};
  auto shade = [&] {
    library().shade(&colour, setup.render_state(), setup.parameters());
  };
  shade();  // resolves the six entries and opens the record
  EXPECT_EQ(allocations_of([&] {
              for (int i = 0; i < 1000; ++i) shade();
              setup.parameters()->grayscale = 1;
              shade();
              setup.state.instance = 0;  // the report path
              shade();
            }),
            0);
  std::ifstream record("no_heap_record.jsonl");
  int lines = 0;
  for (std::string line; std::getline(record, line);) ++lines;
  EXPECT_GE(lines, 3);  // the process's line, the colour and the grey
}

TEST(NoHeap, EntriesAllocateNothing) {
  miSetModuleHandle(support::require_module("signature_host"));
  mi_noise_3d(1, 2, 3);
  EXPECT_EQ(allocations_of([] {
              for (int i = 0; i < 1000; ++i) mi_noise_3d(1, 2, 3);
              mi_spline(3, 1.0, 2.0, 3.0);
            }),
            0);
}

TEST(NoHeap, MessagesAllocateNothing) {
  miSetModuleHandle(support::require_module("message_host"));
  mi_info("warm up");
  mi_nwarning(1, "warm up");
  mi_query(host::kQueryInt64, 0, 0, 0, 0);
  const std::string long_text(2000, 'x');
  EXPECT_EQ(allocations_of([&] {
              mi_info("%s %d %5.2f %zu %% done", "text", 7, 2.5, size_t{9});
              mi_nwarning(3, "100%s", "% sure");
              mi_info("%s", long_text.c_str());
              mi_query(host::kQueryInt64, 1, 2, 3, 4);
            }),
            0);
}

// The counting itself works, for the library's calls as for any other.
TEST(NoHeap, CountsEveryKindOfAllocation) {
  void* volatile block = nullptr;
  EXPECT_EQ(allocations_of([&] {
              block = std::malloc(16);
              std::free(block);
              block = std::calloc(2, 8);
              block = std::realloc(block, 64);
              std::free(block);
              delete new int(3);
            }),
            4);
}

}  // namespace
