// Work shared out over threads: the rows of the reference host's render,
// of the matte tool's unmixing and of the EXR writer's chunks. (The matte
// tool's frames run one after another, each on all the threads.)
#pragma once

#include <functional>

namespace common {

// Runs `work` on `threads` threads, this one among them, and returns when
// each has returned. Where the system cannot start them all (too little
// memory for their stacks, a limit on threads), goes on with those that
// started and says so on standard error. A failure in any thread calls
// `stop` (so that the others end early) and is raised again here once all
// have ended: none may escape a thread, which would end the process without
// a word.
void run_on_threads(int threads, const std::function<void()>& work,
                    const std::function<void()>& stop);

// The threads a run asks for: `asked`, or one a core where it asks for 0
// (one where the system does not say how many cores it has).
int default_threads(int asked);

// How many of `threads` the system starts at once: where it refuses some,
// the note says so (once a process), and every later run_on_threads asks
// for no more.
int usable_threads(int threads);

// Calls `row(y)` for every y from 0 below `rows`, shared out over
// `threads` threads as run_on_threads does.
void for_each_row(int threads, int rows, const std::function<void(int)>& row);

}  // namespace common
