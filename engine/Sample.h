// One stereo recording of signed 16-bit frames, with the rate it was recorded
// at and the MIDI note on which it plays at that rate.
#pragma once
#include <cstdint>

#include "engine/SampleFrames.h"

class Sample {
 public:
  Sample() = default;
  ~Sample();
  Sample(const Sample&) = delete;
  Sample& operator=(const Sample&) = delete;

  // Frees the old arrays, then allocates two of frameCount values each
  // (contents not initialised). A negative count leaves the sample empty.
  void Allocate(int32_t frameCount);
  void Free();
  // Frees the old arrays, then plays these frames (shared with their other
  // holders; empty frames leave the sample empty).
  void SetFrames(const SampleFrames& newFrames);
  const SampleFrames& Frames() const { return frames_; }

  int32_t rate = 44100;
  int32_t baseNote = 64;
  int32_t length = 0;
  // Into the frames' block; read-only once the block is shared.
  int16_t* left = nullptr;
  int16_t* right = nullptr;

 private:
  SampleFrames frames_;
};
