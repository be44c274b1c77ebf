// A progress bar on a terminal stream, drawn only once a job has taken more
// than a second of wall time, and redrawn at most ten times a second.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>

class ProgressBar {
 public:
  explicit ProgressBar(std::FILE* out);
  // done may pass expected (a render's tail): the bar then stays full.
  void Update(uint64_t done, uint64_t expected);
  // Ends the bar's line, when one was drawn.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* out_;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
  bool drawn_ = false;
};
