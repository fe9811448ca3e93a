// How entries find their host functions: once, lazily, in the module handed
// over last, with a report on standard error whenever a lookup fails.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "library/dynload/slot_ids.h"
#include "library/dynload/slots.h"
#include "ravelTint/ravelTint.h"
#include "support/module.hpp"
#include "tests/support/entries.h"
#include "tests/support/stderr_capture.h"

namespace {

using support::require_module;
using testing_support::kPlainEntries;
using testing_support::stderr_of;

// How many slots hold an address.
unsigned filled_slots() {
  unsigned filled = 0;
  for (const auto& slot : dynload_slots) filled += slot.load() != nullptr;
  return filled;
}

// The answer of generic host `id` for the function in `slot`.
std::intptr_t answer(int id, unsigned slot) { return id * 1000 + slot; }

std::string lookup_failure(const char* name, void* handle) {
  char line[256];
  std::snprintf(line, sizeof line,
                "dlsym failed on \"%s\" (handle: %08x error: %d)\n", name,
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle)),
                127);
  return line;
}

class Resolution : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_a_ = require_module("generic_host_a");
    host_b_ = require_module("generic_host_b");
    partial_host_ = require_module("signature_host");
  }
  static void* host_a_;
  static void* host_b_;
  static void* partial_host_;  // lacks most of the host functions
};

void* Resolution::host_a_;
void* Resolution::host_b_;
void* Resolution::partial_host_;

TEST_F(Resolution, EveryEntryReachesItsOwnFunctionOnBothPaths) {
  miSetModuleHandle(host_a_);
  for (const auto& entry : kPlainEntries) {
    EXPECT_EQ(entry.call(0), answer(1, entry.slot)) << entry.name;
    EXPECT_EQ(entry.call(0), answer(1, entry.slot)) << entry.name;
  }
  EXPECT_EQ(filled_slots(), std::size(kPlainEntries));
}

TEST_F(Resolution, ResolvedEntryLooksNothingUpAndPrintsNothing) {
  miSetModuleHandle(host_a_);
  const unsigned slot = dynload::slot::mi_matrix_ident;
  EXPECT_EQ(mi_matrix_ident(0), answer(1, slot));
  // Were the entry to look its name up again, host A's function would be
  // called and overwrite the slot.
  dynload_slots[slot].store(reinterpret_cast<void*>(
      +[](std::intptr_t x) -> std::intptr_t { return x + 1; }));
  std::intptr_t result = 0;
  EXPECT_EQ(stderr_of([&] { result = mi_matrix_ident(41); }), "");
  EXPECT_EQ(result, 42);
}

TEST_F(Resolution, RebindingSendsEveryEntryToTheNewModule) {
  miSetModuleHandle(host_a_);
  for (const auto& entry : kPlainEntries) entry.call(0);
  miSetModuleHandle(host_b_);
  EXPECT_EQ(filled_slots(), 0u);
  for (const auto& entry : kPlainEntries)
    EXPECT_EQ(entry.call(0), answer(2, entry.slot)) << entry.name;
}

TEST_F(Resolution, MissingFunctionIsReportedOnEveryCallAndNeverCached) {
  miSetModuleHandle(partial_host_);
  const std::string report = lookup_failure("mi_matrix_ident", partial_host_);
  for (int call = 0; call < 3; ++call) {
    std::intptr_t result = -1;
    EXPECT_EQ(stderr_of([&] { result = mi_matrix_ident(5); }), report);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dynload_slots[dynload::slot::mi_matrix_ident].load(), nullptr);
  }
  // Binding a module that has it then succeeds at once.
  miSetModuleHandle(host_a_);
  EXPECT_EQ(mi_matrix_ident(5), answer(1, dynload::slot::mi_matrix_ident));
}

TEST_F(Resolution, BeforeAnyModuleBothLinesAppearInOrder) {
  miSetModuleHandle(nullptr);
  EXPECT_EQ(stderr_of([] { mi_hardware_file_get(0); }),
            "DYNLOAD: dl_handle null\n" +
                lookup_failure("mi_hardware_file_get", nullptr));
  EXPECT_EQ(filled_slots(), 0u);
}

TEST_F(Resolution, FirstAndLastSlotsFillAloneAndAreClearedAgain) {
  for (unsigned slot : {0u, DYNLOAD_SLOT_COUNT - 1u}) {
    miSetModuleHandle(host_a_);
    const auto& entry =
        *std::find_if(std::begin(kPlainEntries), std::end(kPlainEntries),
                      [&](const auto& e) { return e.slot == slot; });
    EXPECT_EQ(entry.call(0), answer(1, slot));
    EXPECT_EQ(filled_slots(), 1u);
    EXPECT_NE(dynload_slots[slot].load(), nullptr);
  }
  miSetModuleHandle(host_a_);
  EXPECT_EQ(filled_slots(), 0u);
}

// Threads that make the first calls of the same entries at once may all
// resolve them; every call must still reach the right function.
TEST_F(Resolution, ConcurrentFirstCallsAreAllCorrect) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20;
  std::atomic<int> failures{0};
  for (int round = 0; round < kRounds; ++round) {
    miSetModuleHandle(round % 2 ? host_b_ : host_a_);
    const int id = round % 2 ? 2 : 1;
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        waiting.fetch_sub(1);
        while (waiting.load() > 0) std::this_thread::yield();
        for (std::size_t i = t; i < std::size(kPlainEntries) + t; ++i) {
          const auto& entry = kPlainEntries[i % std::size(kPlainEntries)];
          if (entry.call(0) != answer(id, entry.slot)) failures.fetch_add(1);
        }
      });
    for (auto& thread : threads) thread.join();
  }
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
