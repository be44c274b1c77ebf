// The engine plays a sample at speed rate x 2^((note - base) / 12) frames a
// second and keeps only the whole frames of each 1024-frame buffer, so a
// sample read at x frames per buffer sounds flat by 1200 log2(floor(x) / x)
// cents. RateFit finds the WAV rate (and so the resampling ratio) at which
// no key of a range is flat by more than the tolerance, computing the
// positions exactly as the engine does.
#pragma once
#include <cstdint>

struct RateChoice {
  bool found = false;
  int32_t rate = 0;         // the WAV file's rate
  double ratio = 1.0;       // frames written per source frame
  int64_t loopLength = 0;   // in written frames, when looped
  double worstCents = 0.0;  // the largest flattening left, in cents (>= 0)
};

class RateFit {
 public:
  static constexpr double kToleranceCents = 2.0;

  // The flattening, in cents (>= 0), of a sample at rate played on key.
  static double FlatCents(int32_t rate, int base, int key);
  static double WorstCents(int32_t rate, int base, int keyLo, int keyHi);

  // idealRate: the rate (not rounded) at which the source plays in tune at
  // base. Tries ratios from 1 up to maxRatio: for a sample without a loop
  // each whole rate in turn; for a looped one each whole loop length
  // (loopLength source frames become a whole number of written frames, so
  // the loop stays seamless). Not found: the best rate tried. anyFit: only
  // whether one is found matters (found, and the rate when found; faster).
  static RateChoice Choose(double idealRate, int base, int keyLo, int keyHi, int64_t loopLength,
                           double maxRatio, bool anyFit = false);
};
