// Turns one zone, on a range of its keys, into the frames of one WAV file:
// the envelope's delay, attack, hold and decay written into the sample
// ahead of its loop (the loop written out as often as that takes, so that
// it repeats at the sustain level), a sound that decays to silence written
// out until 60 dB down or the time bound, the level and pan applied, and
// the rate chosen (resampling where needed) so that the engine plays every
// key of the range in tune.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/import/ImportZone.h"
#include "tools/import/RateFit.h"

struct RenderedSample {
  std::vector<int16_t> frames;  // interleaved
  int channels = 1;
  int32_t rate = 44100;
  int base = 60;
  int keyLo = 0;
  int keyHi = 127;
  LoopMode loop = LoopMode::kNone;
  int64_t loopStart = 0;
  int64_t loopEnd = 0;  // included
  int releaseMs = 1;
  int64_t clipped = 0;
  bool pitchFits = true;
  double worstCents = 0.0;
  std::vector<std::string> notes;  // approximations made
  RateChoice fit;                  // the rate chosen
};

// The base note and the rate (not rounded) at which the zone plays in tune
// on key: the root key where the zone follows the keyboard in semitones,
// else the key itself.
void TuningFor(const ImportZone& zone, int key, int* base, double* idealRate);

// True when one rate up to the resampling bound keeps every key of the
// range in tune (RenderZone then succeeds on it), and a low-pass filter
// whose cutoff falls below 4 kHz spans at most five keys.
bool RateFits(const ImportZone& zone, int keyLo, int keyHi);

// False when the range needs splitting: no rate up to the resampling bound
// keeps every key within the tolerance (only for ranges of two keys or
// more; a single key takes the best rate found, and says so in notes).
// earlier: rates chosen for other ranges of the zone, tried first: where one
// keeps this range in tune too, the files may come out equal and be one.
bool RenderZone(const ImportZone& zone, int keyLo, int keyHi, double maxSeconds,
                RenderedSample* out, const std::vector<RateChoice>* earlier = nullptr);
