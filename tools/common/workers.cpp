#include "tools/common/workers.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "tools/common/errors.h"
#include "tools/common/quoting.h"
#include "tools/common/words.h"

namespace common {

namespace {

// The most threads that have started at once: where the system refused
// more, later work asks for no more than it gave, and the note is given
// once (a later refusal, where other threads hold what the first run had,
// only lowers the count).
std::atomic<int> most_threads{INT_MAX};
std::atomic<bool> refusal_noted{false};

}  // namespace

int usable_threads(int threads) {
  run_on_threads(
      threads, [] {}, [] {});
  return std::max(1, std::min(threads, most_threads.load()));
}

void run_on_threads(int threads, const std::function<void()>& work,
                    const std::function<void()>& stop) {
  threads = std::min(threads, most_threads.load());
  std::exception_ptr failure;
  std::mutex failing;
  auto guarded = [&] {
    try {
      work();
    } catch (...) {
      const std::lock_guard<std::mutex> lock(failing);
      if (!failure) failure = std::current_exception();
      stop();
    }
  };
  const int helpers_asked = threads > 1 ? threads - 1 : 0;
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<std::size_t>(helpers_asked));
  for (int t = 0; t < helpers_asked; ++t) {
    try {
      helpers.emplace_back(guarded);
    } catch (const std::system_error& e) {
      const int started = static_cast<int>(helpers.size()) + 1;
      most_threads = std::min(most_threads.load(), started);
      if (!refusal_noted.exchange(true))
        std::fprintf(
            stderr, "%s: note: %s could not start (%s); working with %s\n",
            program_name(),
            count_of(static_cast<std::size_t>(helpers_asked - t), "thread")
                .c_str(),
            printable_line(e.code().message()).c_str(),
            count_of(static_cast<std::size_t>(started), "thread").c_str());
      break;
    }
  }
  guarded();
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
}

void for_each_row(int threads, int rows, const std::function<void(int)>& row) {
  std::atomic<int> next{0};
  run_on_threads(
      threads,
      [&] {
        for (int y; (y = next.fetch_add(1)) < rows;) row(y);
      },
      [&] { next = rows; });
}

int default_threads(int asked) {
  if (asked > 0) return asked;
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  return cores > 0 ? cores : 1;
}

}  // namespace common
