// The offsets of one voice speed: T(k) = speed x k x (1/44100), truncated, for
// k = 0..1024. Every refill renders a voice from k = 0 over 1024 frames, and a
// voice's speed never changes, so the voice keeps its table and the per-frame
// double arithmetic is done once per voice instead of once per buffer.
//
// Stored compactly (about 1.5 KB): T at every eighth frame, and for each
// frame its distance from the start of its group of eight, which fits a byte
// for every speed up to about 32 times the output rate. The kernels read a
// group as one base and eight byte-sized steps.
#pragma once
#include <cstdint>

// The double nearest to 1/44100 (bits 0x3EF7C6F8C751F177). Positions are
// computed with a multiplication by it, not a division by 44100: the two
// differ in rare last-bit cases that the truncation to a frame index makes
// audible.
constexpr double kOneOverOutputRate = 2.2675736961451248e-05;

// T(k) for one k, evaluated left to right exactly as the frame-by-frame loop
// does: (speed x k) x (1/44100), then truncated toward zero.
inline int32_t OffsetAt(double speed, int32_t k) {
  return static_cast<int32_t>(speed * static_cast<double>(k) * kOneOverOutputRate);
}

// at[i] = start + T(first + i) for i = 0 .. n - 1, each exactly as OffsetAt
// computes it (two at a time where SSE2 is there). Every offset must fit.
void Offsets(int32_t* at, int32_t first, int32_t n, int32_t start, double speed);

struct OffsetTable {
  static constexpr int32_t kFrames = 1024;
  static constexpr int32_t kGroup = 8;
  static constexpr int32_t kGroups = kFrames / kGroup;

  // Fills the table for speed (not negative). False when some step within a
  // group does not fit a byte or T(1024) does not fit 31 bits: the table is
  // then left unusable and the caller computes offsets directly.
  bool Build(double speed);

  // T(k), 0 <= k <= 1024.
  int32_t Offset(int32_t k) const { return base[k / kGroup] + delta[k]; }

  // The first k in 0..limit (limit <= 1024) at which start + T(k) >= length,
  // or limit when there is none: how many frames play before the sample ends.
  // start + T(limit) must fit 32 bits.
  int32_t FramesBefore(int32_t start, int32_t length, int32_t limit) const;

  double speed = -1.0;  // the speed the table was built for; negative: none
  bool usable = false;
  // The widest group: the largest T(8g + 7) - T(8g). Up to 7, eight frames
  // read from a window of 8 consecutive sample frames; up to 15, of 16.
  int32_t span = 0;
  int32_t base[kGroups + 1];        // T(8g); base[128] = T(1024)
  uint8_t delta[kFrames + kGroup];  // T(k) - T(8 (k / 8)); zero from 1024 on
};
