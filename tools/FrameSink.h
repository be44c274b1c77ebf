// Where a render's frames go: 16-bit stereo at 44100 frames per second,
// interleaved, left first.
#pragma once
#include <cstdint>
#include <string>

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // False, with Error() saying why, when the frames could not be taken.
  virtual bool Write(const int16_t* frames, uint32_t frameCount) = 0;
  virtual const std::string& Error() const = 0;
};
