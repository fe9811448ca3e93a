// The colour record, the one state the library keeps, and only when asked:
// when RAVELTINT_RECORD names a file at the shader's first call, each
// process appends to it, once for each distinct (name, seed, grayscale) it
// colours, one line of JSON with the colour the shader gave, so that tools
// outside the renderer can key its images by name. It never changes a
// colour, and unasked it costs one load of a flag.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "library/shader/records.h"

namespace shader::record {

enum State : int { kUndecided, kStarting, kOff, kOn };

// The record's state, set once, at the first call.
extern std::atomic<int> state;

// Decides whether to record (opening the file and writing the process's
// first line), once; calls that meet it deciding wait. Returns the state.
int start();

// The three channel hashes of a name (red, green, blue); they hold the
// name and the seed.
using Hashes = std::array<std::uint32_t, 3>;

// The objects already recorded, by a 64-bit key of their three channel
// hashes and grayscale, in static storage: the system gives its pages as
// the table first touches them. Half full at most, so that a look-up is
// nearly always one probe.
inline constexpr int kTableBits = 21;
extern std::atomic<std::uint64_t> table[std::size_t{1} << kTableBits];

inline std::uint64_t key_of(const Hashes& hashes, bool grayscale) {
  const std::uint64_t key = (std::uint64_t{hashes[0]} << 32 | hashes[1]) ^
                            (std::uint64_t{hashes[2]} * 0x9e3779b97f4a7c15ull) ^
                            std::uint64_t{grayscale};
  return key ? key : 1;  // 0 marks an empty slot
}

inline std::size_t slot_of(std::uint64_t key) {
  return (key * 0xbf58476d1ce4e5b9ull) >> (64 - kTableBits);
}

// Records the object where this process has not recorded it yet, by its
// three channel hashes (a grey object's too).
void note(const char* name, std::int32_t seed, bool grayscale,
          const host::Colour& colour, const Hashes& hashes);

inline bool on() {
  int s = state.load(std::memory_order_acquire);
  if (s <= kStarting) s = start();
  return s == kOn;
}

// After an object's first call, one look-up: its key in its own slot.
inline void colour_given(const char* name, std::int32_t seed, bool grayscale,
                         const host::Colour& colour, const Hashes& hashes) {
  const std::uint64_t key = key_of(hashes, grayscale);
  if (table[slot_of(key)].load(std::memory_order_relaxed) == key) return;
  note(name, seed, grayscale, colour, hashes);
}

}  // namespace shader::record
