// The render's frames on their way to the WAV writer: turned up or down by
// --gain and converted to --rate. At 0 dB and 44100 Hz they pass untouched,
// so the default output is exactly the engine's bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/FrameSink.h"
#include "tools/RateStage.h"
#include "tools/WavWriter.h"

class RenderOutput : public FrameSink {
 public:
  // False with *error when rate cannot be converted to.
  bool Prepare(uint32_t rate, double gainDb, WavWriter* writer, std::string* error);
  bool Write(const int16_t* frames, uint32_t frameCount) override;
  // Writes what the converter still holds; the writer can finish after it.
  bool Flush();
  const std::string& Error() const override { return writer_->Error(); }

  // A sample at full scale 1.0 (32768 for 16 bits) times the gain, rounded
  // to the nearest step and held within the 16-bit range.
  static int16_t Quantize(double sample);

 private:
  bool WriteConverted();

  WavWriter* writer_ = nullptr;
  double gain_ = 1.0;
  bool converting_ = false;
  RateStage rate_;
  std::vector<float> converted_;
  std::vector<int16_t> quantized_;
};
