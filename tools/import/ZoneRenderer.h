// Turns one zone, on a range of its keys, into the frames of one WAV file
// and the lines the engine plays it with: the envelope's delay, attack and
// hold written into the sample ahead of its loop (the loop written out as
// often as that takes), its decay and sustain left to the engine (a decay
// line), a sound without a loop written out until 60 dB down or the time
// bound, the pan applied and the level left to the engine (a level line),
// at the rate that plays the middle key in tune (the engine keeps the
// fraction of a frame, so every key is).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/import/ImportZone.h"

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
  double levelDb = 0.0;        // the level line, when below 0
  double decayStartMs = -1.0;  // the decay line, when not negative
  double decayDbPerSecond = 0.0;
  double sustainDb = 0.0;  // 0 or below
  int64_t clipped = 0;
  std::vector<std::string> notes;  // approximations made
};

// The base note and the rate (not rounded) at which the zone plays in tune
// on key: the root key where the zone follows the keyboard in semitones,
// else the key itself.
void TuningFor(const ImportZone& zone, int key, int* base, double* idealRate);

// True when one file may serve the range: a low-pass filter whose cutoff
// falls below 4 kHz spans at most five keys.
bool RangeFits(const ImportZone& zone, int keyLo, int keyHi);

void RenderZone(const ImportZone& zone, int keyLo, int keyHi, double maxSeconds,
                RenderedSample* out);
