// A progress bar on standard error, shown only on a terminal and only once a
// render has taken more than a moment.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

namespace refhost {

class Progress {
 public:
  explicit Progress(int total);
  void advance();  // one more unit done; any thread
  void finish();

 private:
  void draw(int done);

  const int total_;
  const bool enabled_;
  const std::chrono::steady_clock::time_point start_;
  std::atomic<int> done_{0};
  std::mutex drawing_;
  std::chrono::steady_clock::time_point last_draw_{};
  bool shown_ = false;
};

}  // namespace refhost
