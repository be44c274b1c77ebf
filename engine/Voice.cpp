#include "engine/Voice.h"

#include <climits>

#include "engine/MixFrame.h"
#include "engine/MixKernels.h"
#include "engine/PitchTable.h"

Voice::Voice(int32_t noteNumber, int32_t channelNumber, int32_t noteVelocity, int32_t channelVolume,
             Instrument* played)
    : note(noteNumber),
      channel(channelNumber),
      velocity(noteVelocity),
      volume(channelVolume),
      instrument(played),
      sample(played->SampleForNote(noteNumber)) {}

// Equivalent to mixing frame by frame (check the end, mix, step the fade,
// advance), but split so the hot loop has no branches: the frames that play
// are found first (those before the fade's end whose position start + T(i)
// lies inside the sample), then mixed, and the fade is applied in closed form.
// This works because positions never decrease (rounded products are
// monotonic) and the fade's effect on the velocity within a call is
// min(velocity, (counter - k) / 16) after k frames. The offsets T(i) come from
// the voice's table in a 1024-frame call and are computed, exactly alike,
// chunk by chunk in any other.
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
  const int32_t length = s->length;

  // Frames this call may mix, the one that ends the fade included.
  int32_t limit = frameCount;
  bool fadeEnds = false;
  const bool releasing = state == VOICE_RELEASING;
  if (releasing) {
    // The velocity reaches 0 at the first frame j (from 1) where the counter
    // minus j drops below 16; at once when it is not positive.
    const int64_t fadeFrames =
        velocity <= 0 ? 1 : (releaseCounter - int64_t{15} > 1 ? releaseCounter - int64_t{15} : 1);
    if (fadeFrames <= frameCount) {
      limit = static_cast<int32_t>(fadeFrames);
      fadeEnds = true;
    }
  }
  // Offsets grow with the frame index: when the largest fits, all do.
  if (!(speed * static_cast<double>(limit) * kOneOverOutputRate <
        static_cast<double>(INT32_MAX) - start)) {
    RenderFrameByFrame(buffer, frameCount, speed, gain);
    return;
  }

  const int16_t* left = s->left;
  const int16_t* right = s->right;
  int32_t mixed = 0;
  int32_t endPosition = -1;  // where the sample end was met, if it was
  if (frameCount == OffsetTable::kFrames && (offsets_.speed == speed || offsets_.Build(speed)) &&
      offsets_.usable) {
    mixed = offsets_.FramesBefore(start, length, limit);
    if (mixed < limit) endPosition = start + offsets_.Offset(mixed);
    // A gain of 0 adds 0 to every value: nothing to mix.
    if (gain != 0) MixByTable(buffer, left, right, length, start, offsets_, mixed, gain);
  } else {
    constexpr int32_t kChunk = 256;
    int32_t at[kChunk];
    while (mixed < limit) {
      const int32_t n = limit - mixed < kChunk ? limit - mixed : kChunk;
      Offsets(at, mixed, n, start, speed);
      int32_t count = n;
      if (at[n - 1] >= length) {
        count = 0;
        while (at[count] < length) ++count;
        endPosition = at[count];
      }
      if (gain != 0) MixByPositions(buffer + 2 * mixed, left, right, at, count, gain);
      mixed += count;
      if (endPosition >= 0) break;
    }
  }

  if (releasing && mixed > 0) {
    releaseCounter -= mixed;
    const int32_t level = releaseCounter / 16;
    if (level < velocity) velocity = level;
  }
  if (endPosition >= 0) {
    position = endPosition;
    state = VOICE_FINISHED;
  } else if (fadeEnds) {
    // The last frame was mixed; the position is not advanced past it.
    position = start + OffsetAt(speed, limit - 1);
    velocity = 0;
    state = VOICE_FINISHED;
  } else {
    position = start + OffsetAt(speed, frameCount);
  }
}

void Voice::RenderFrameByFrame(int16_t* buffer, int32_t frameCount, double speed,
                               int32_t gain) noexcept {
  const Sample* s = sample;
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

void Voice::Prefetch() const noexcept {
  __builtin_prefetch(this);
  __builtin_prefetch(offsets_.base);
  __builtin_prefetch(offsets_.delta);
  const Sample* s = sample;
  if (s && position >= 0 && position < s->length) {
    __builtin_prefetch(s->left + position);
    __builtin_prefetch(s->right + position);
  }
}
