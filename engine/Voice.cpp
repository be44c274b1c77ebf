#include "engine/Voice.h"

#include <climits>
#include <cstring>

#include "engine/PitchTable.h"

namespace {

// The double nearest to 1/44100. Positions are computed with a multiplication
// by it, not a division by 44100: the two differ in rare last-bit cases that
// the truncation to a frame index makes audible.
double OneOverOutputRate() {
  const uint64_t bits = 0x3EF7C6F8C751F177ull;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
const double kOneOverOutputRate = OneOverOutputRate();

inline int16_t Saturate(int32_t value) {
  if (value > 32767) return 32767;
  if (value < -32768) return -32768;
  return static_cast<int16_t>(value);
}

}  // namespace

Voice::Voice(int32_t note, int32_t channel, int32_t velocity, int32_t volume,
             Instrument* instrument)
    : note(note),
      channel(channel),
      velocity(velocity),
      volume(volume),
      instrument(instrument),
      sample(instrument->SampleForNote(note)) {}

void Voice::Render(int16_t* buffer, int32_t frameCount) noexcept {
  if (frameCount <= 0) return;
  const Sample* s = sample;
  // A rate below zero would walk backwards out of the sample: it holds its
  // first frame, like a rate of zero. Distances beyond the pitch table use its
  // nearest entry.
  const double rate = s->rate > 0 ? static_cast<double>(s->rate) : 0.0;
  const double speed = rate * PitchFactor(static_cast<int64_t>(note) - s->baseNote);
  const int32_t gain = (volume * velocity) / 128;
  const int32_t start = position;
  // The largest offset from start that still fits the position's 32 bits.
  const double maxOffset = static_cast<double>(INT32_MAX) - start;

  for (int32_t i = 0; i < frameCount; ++i) {
    if (position >= s->length) {
      state = VOICE_FINISHED;
      return;
    }
    int16_t* frame = buffer + 2 * i;
    frame[0] = Saturate(frame[0] + (s->left[position] * gain) / 256);
    frame[1] = Saturate(frame[1] + (s->right[position] * gain) / 256);

    if (state == VOICE_RELEASING) {
      releaseCounter -= 1;
      const int32_t level = releaseCounter / 16;
      if (level < velocity) velocity = level;
      if (velocity <= 0) {
        velocity = 0;
        state = VOICE_FINISHED;
        return;
      }
    }

    // Always from the call's starting position, so rounding does not
    // accumulate within a call; evaluated left to right exactly as written.
    const double offset = speed * static_cast<double>(i + 1) * kOneOverOutputRate;
    position = offset < maxOffset ? start + static_cast<int32_t>(offset) : INT32_MAX;
  }
}
