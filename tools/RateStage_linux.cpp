#include <cmath>
#include <cstring>

#include "platform/linux/audio/RateConverter.h"
#include "tools/RateStage.h"

namespace {
// The converter reads ahead of the frames it makes (its filter, and whole
// chunks of input): frames are made only while this much input waits beyond
// what they need, so that it never reads past what has been pushed before
// Finish.
constexpr uint64_t kLookAheadFrames = 8192;
constexpr uint32_t kFramesPerRead = 1024;
}  // namespace

struct RateStage::State {
  platform::RateConverter converter;
  double ratio = 1.0;
  std::vector<int16_t> pending;  // interleaved; frames before readAt are used
  size_t readAt = 0;
  uint64_t framesIn = 0;
  uint64_t framesOut = 0;

  static void Source(void* context, int16_t* frames, unsigned count) {
    auto* state = static_cast<State*>(context);
    const size_t available = state->pending.size() / 2 - state->readAt;
    const size_t n = available < count ? available : count;
    std::memcpy(frames, state->pending.data() + 2 * state->readAt, n * 4);
    // Past the end of the input (only in Finish): silence.
    std::memset(frames + 2 * n, 0, (count - n) * 4);
    state->readAt += n;
  }

  void Read(uint32_t count, std::vector<float>* out) {
    const size_t at = out->size();
    out->resize(at + 2 * size_t{count});
    converter.Read(out->data() + at, count);
    framesOut += count;
    if (readAt > 65536) {
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(2 * readAt));
      readAt = 0;
    }
  }
};

RateStage::RateStage() = default;
RateStage::~RateStage() = default;

bool RateStage::Prepare(uint32_t rate, std::string* error) {
  state_ = std::make_unique<State>();
  state_->ratio = rate / 44100.0;
  return state_->converter.Prepare(44100, rate, &State::Source, state_.get(), error);
}

void RateStage::Push(const int16_t* frames, uint32_t count, std::vector<float>* out) {
  State& s = *state_;
  s.pending.insert(s.pending.end(), frames, frames + 2 * size_t{count});
  s.framesIn += count;
  const uint64_t perRead = static_cast<uint64_t>(std::ceil(kFramesPerRead / s.ratio));
  while (s.pending.size() / 2 - s.readAt >= kLookAheadFrames + perRead) s.Read(kFramesPerRead, out);
}

void RateStage::Finish(std::vector<float>* out) {
  State& s = *state_;
  const uint64_t total =
      static_cast<uint64_t>(std::llround(static_cast<double>(s.framesIn) * s.ratio));
  while (s.framesOut < total) {
    const uint64_t left = total - s.framesOut;
    s.Read(left < kFramesPerRead ? static_cast<uint32_t>(left) : kFramesPerRead, out);
  }
}
