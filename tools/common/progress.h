// Progress of a long step (a render, a seed search) on standard error, once
// it has taken more than a moment: a bar on a terminal, and otherwise (a log,
// a farm's job output) a line every few seconds, unless the step is one a log
// has no use for.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

namespace common {

class Progress {
 public:
  enum class Where { kTerminalOrLog, kTerminalOnly };
  Progress(const char* label, int total, Where where = Where::kTerminalOrLog);
  void advance();  // one more unit done; any thread
  void finish();
  ~Progress();  // ends a bar left open, so a following error has its own line

 private:
  void draw(int done);

  const char* const label_;
  const int total_;
  const bool terminal_;
  const bool silent_;
  const std::chrono::steady_clock::time_point start_;
  std::atomic<int> done_{0};
  std::mutex drawing_;
  std::chrono::steady_clock::time_point last_draw_{};
  bool shown_ = false;
  bool finished_ = false;
};

}  // namespace common
