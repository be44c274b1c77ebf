// A progress bar on a stream, drawn only once a job has taken more than a
// second of wall time, then once a second. Each drawing is a whole line: the
// log lines that share the stream then never run into a half-drawn bar.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>

class ProgressBar {
 public:
  explicit ProgressBar(std::FILE* out);
  // done may pass expected (a render's tail): the bar then stays full.
  void Update(uint64_t done, uint64_t expected);
  // Called just before each drawing (to write out what shares the stream).
  void SetBeforeDraw(std::function<void()> beforeDraw) { beforeDraw_ = std::move(beforeDraw); }

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* out_;
  Clock::time_point start_;
  Clock::time_point nextDraw_;
  std::function<void()> beforeDraw_;
};
