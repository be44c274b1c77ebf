// A render's 44100 Hz frames converted to another rate by the wave output's
// own rate converter (libsamplerate, medium-quality sinc), offline: frames
// are pushed in as the render makes them, and the converted frames come out
// as soon as enough input lies ahead of them. Only the Linux build has the
// converter; in the Windows build Prepare refuses every rate.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RateStage {
 public:
  RateStage();
  ~RateStage();
  RateStage(const RateStage&) = delete;
  RateStage& operator=(const RateStage&) = delete;

  // False with *error when frames cannot be converted to rate.
  bool Prepare(uint32_t rate, std::string* error);
  // Appends count frames (interleaved stereo) and adds to *out, as interleaved
  // stereo with full scale 1.0, every converted frame that is ready.
  void Push(const int16_t* frames, uint32_t count, std::vector<float>* out);
  // Adds the rest: in all, the input's length at the new rate, rounded.
  void Finish(std::vector<float>* out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
