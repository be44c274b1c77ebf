// Converts the wave output's 44100 Hz stereo frames to a device that runs at
// another rate, with libsamplerate's medium-quality sinc converter: its error
// stays 118 dB below the signal up to 19 kHz (16-bit samples carry 98 dB) for
// about 2.5% of one core at 96000 Hz. libsoxr is ten times cheaper but now
// and then allocates inside soxr_process, which the audio callback must never
// do; libsamplerate allocates only when the converter is made
// (bench/bench_resample.cpp measures both). Everything is set up in Prepare;
// Read only computes.
#pragma once
#include <samplerate.h>

#include <cstdint>
#include <string>

namespace platform {

class RateConverter {
 public:
  // Audio thread: fills count 44100 Hz frames (interleaved stereo).
  using Source = void (*)(void* context, int16_t* frames, unsigned count);

  RateConverter() = default;
  ~RateConverter();
  RateConverter(const RateConverter&) = delete;
  RateConverter& operator=(const RateConverter&) = delete;

  // Before the device starts. False (with the library's words) on failure.
  bool Prepare(unsigned inputRate, unsigned outputRate, Source source, void* context,
               std::string* error);
  bool Ready() const { return state_ != nullptr; }

  // Audio thread: count converted frames, interleaved stereo, full scale 1.0.
  void Read(float* frames, unsigned count);
  // Forgets the frames held inside; never while Read runs.
  void Reset();

  // 44100 Hz frames taken from the source at a time.
  static constexpr unsigned kChunkFrames = 64;

 private:
  static long Input(void* self, float** data);

  SRC_STATE* state_ = nullptr;
  double ratio_ = 1.0;
  Source source_ = nullptr;
  void* context_ = nullptr;
  int16_t input16_[kChunkFrames * 2] = {};
  float input_[kChunkFrames * 2] = {};
};

}  // namespace platform
