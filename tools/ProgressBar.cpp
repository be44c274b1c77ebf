#include "tools/ProgressBar.h"

ProgressBar::ProgressBar(std::FILE* out)
    : out_(out), start_(Clock::now()), nextDraw_(start_ + std::chrono::seconds(1)) {}

void ProgressBar::Update(uint64_t done, uint64_t expected) {
  const Clock::time_point now = Clock::now();
  if (now < nextDraw_) return;
  nextDraw_ = now + std::chrono::seconds(1);
  const int width = 40;
  const uint64_t percent = expected == 0 || done >= expected ? 100 : done * 100 / expected;
  char bar[width + 1];
  for (int i = 0; i < width; ++i)
    bar[i] = static_cast<uint64_t>(i) * 100 < percent * width ? '#' : '.';
  bar[width] = '\0';
  const double seconds = std::chrono::duration<double>(now - start_).count();
  if (beforeDraw_) beforeDraw_();
  std::fprintf(out_, "[%s] %3u%%  %.1f s\n", bar, static_cast<unsigned>(percent), seconds);
  std::fflush(out_);
}
