#include "tools/common/progress.h"

#include <cstdio>

#include "tools/common/platform.h"

namespace common {

namespace {
using std::chrono::milliseconds;
constexpr int kBarWidth = 40;

// How long before the first report, and between reports.
struct Pace {
  milliseconds first, every;
};
constexpr Pace kTerminal{milliseconds(500), milliseconds(100)};
constexpr Pace kLog{milliseconds(3000), milliseconds(3000)};
}  // namespace

Progress::Progress(const char* label, int total, Where where)
    : label_(label),
      total_(total),
      terminal_(platform::stderr_is_terminal()),
      silent_(!terminal_ && where == Where::kTerminalOnly),
      start_(std::chrono::steady_clock::now()) {}

void Progress::advance() {
  const int done = done_.fetch_add(1) + 1;
  if (silent_) return;
  const Pace pace = terminal_ ? kTerminal : kLog;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < pace.first) return;
  std::unique_lock<std::mutex> lock(drawing_, std::try_to_lock);
  if (!lock || (shown_ && now - last_draw_ < pace.every)) return;
  last_draw_ = now;
  draw(done);
}

void Progress::draw(int done) {
  const int percent = total_ ? static_cast<int>(done * 100LL / total_) : 100;
  if (terminal_) {
    const int filled =
        total_ ? static_cast<int>(done * 1LL * kBarWidth / total_) : kBarWidth;
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3d%%", label_, bar, percent);
  } else {
    std::fprintf(stderr, "%s: %d%% (%d of %d)\n", label_, percent, done,
                 total_);
  }
  std::fflush(stderr);
  shown_ = true;
}

void Progress::finish() {
  std::lock_guard<std::mutex> lock(drawing_);
  if (!shown_ || !terminal_ || finished_) return;
  draw(total_);
  std::fputc('\n', stderr);
  finished_ = true;
}

Progress::~Progress() {
  std::lock_guard<std::mutex> lock(drawing_);
  if (shown_ && terminal_ && !finished_) std::fputc('\n', stderr);
}

}  // namespace common
