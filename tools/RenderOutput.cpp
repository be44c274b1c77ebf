#include "tools/RenderOutput.h"

#include <cmath>

bool RenderOutput::Prepare(uint32_t rate, double gainDb, WavWriter* writer, std::string* error) {
  writer_ = writer;
  gain_ = gainDb == 0.0 ? 1.0 : std::pow(10.0, gainDb / 20.0);
  converting_ = rate != 44100;
  return !converting_ || rate_.Prepare(rate, error);
}

int16_t RenderOutput::Quantize(double sample) {
  const double scaled = std::nearbyint(sample * 32768.0);
  if (scaled >= 32767.0) return 32767;
  if (scaled <= -32768.0) return -32768;
  return static_cast<int16_t>(scaled);
}

bool RenderOutput::Write(const int16_t* frames, uint32_t frameCount) {
  if (converting_) {
    rate_.Push(frames, frameCount, &converted_);
    return WriteConverted();
  }
  if (gain_ == 1.0) return writer_->Write(frames, frameCount);
  quantized_.resize(2 * size_t{frameCount});
  for (size_t i = 0; i < quantized_.size(); ++i)
    quantized_[i] = Quantize(frames[i] * (gain_ / 32768.0));
  return writer_->Write(quantized_.data(), frameCount);
}

bool RenderOutput::Flush() {
  if (!converting_) return true;
  rate_.Finish(&converted_);
  return WriteConverted();
}

bool RenderOutput::WriteConverted() {
  quantized_.resize(converted_.size());
  for (size_t i = 0; i < converted_.size(); ++i) quantized_[i] = Quantize(converted_[i] * gain_);
  const bool ok = writer_->Write(quantized_.data(), static_cast<uint32_t>(quantized_.size() / 2));
  converted_.clear();
  return ok;
}
