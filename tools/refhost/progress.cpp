#include "tools/refhost/progress.h"

#include <cstdio>

#include "tools/refhost/platform.h"

namespace refhost {

namespace {
constexpr auto kMoment = std::chrono::milliseconds(500);
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kBarWidth = 40;
}  // namespace

Progress::Progress(int total)
    : total_(total),
      enabled_(platform::stderr_is_terminal()),
      start_(std::chrono::steady_clock::now()) {}

void Progress::advance() {
  const int done = done_.fetch_add(1) + 1;
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kMoment) return;
  std::unique_lock<std::mutex> lock(drawing_, std::try_to_lock);
  if (!lock || (shown_ && now - last_draw_ < kRedraw && done < total_)) return;
  last_draw_ = now;
  draw(done);
}

void Progress::draw(int done) {
  const int filled = total_ ? done * kBarWidth / total_ : kBarWidth;
  char bar[kBarWidth + 1];
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\rrendering [%s] %3d%%", bar,
               total_ ? done * 100 / total_ : 100);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::finish() {
  std::lock_guard<std::mutex> lock(drawing_);
  if (!shown_) return;
  draw(total_);
  std::fputc('\n', stderr);
}

}  // namespace refhost
