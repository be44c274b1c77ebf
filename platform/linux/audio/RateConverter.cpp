#include "platform/linux/audio/RateConverter.h"

namespace platform {

RateConverter::~RateConverter() {
  if (state_) src_delete(state_);
}

bool RateConverter::Prepare(unsigned inputRate, unsigned outputRate, Source source, void* context,
                            std::string* error) {
  if (state_) state_ = src_delete(state_);
  source_ = source;
  context_ = context;
  ratio_ = double(outputRate) / double(inputRate);
  int result = 0;
  state_ = src_callback_new(&RateConverter::Input, SRC_SINC_MEDIUM_QUALITY, 2, &result, this);
  if (!state_) {
    *error = std::string("libsamplerate: ") + src_strerror(result);
    return false;
  }
  return true;
}

void RateConverter::Read(float* frames, unsigned count) {
  // The source never runs dry (it plays silence when nothing is queued), so
  // one call normally delivers everything; a short read is retried.
  for (int tries = 0; count > 0 && tries < 4; ++tries) {
    long made = src_callback_read(state_, ratio_, count, frames);
    if (made <= 0) break;
    frames += made * 2;
    count -= static_cast<unsigned>(made);
  }
  for (unsigned i = 0; i < count * 2; ++i) frames[i] = 0.0f;
}

void RateConverter::Reset() {
  if (state_) src_reset(state_);
}

long RateConverter::Input(void* self, float** data) {
  auto* converter = static_cast<RateConverter*>(self);
  converter->source_(converter->context_, converter->input16_, kChunkFrames);
  for (unsigned i = 0; i < kChunkFrames * 2; ++i)
    converter->input_[i] = converter->input16_[i] * (1.0f / 32768.0f);
  *data = converter->input_;
  return kChunkFrames;
}

}  // namespace platform
