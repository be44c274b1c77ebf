// Voice rendering as the plain frame-by-frame loop: the definition that the
// engine's faster Voice::Render must match bit for bit. It knows no loops: a
// looped voice is defined by the same sample with its loop written out.
#pragma once
#include <climits>
#include <cstdint>

#include "engine/PitchTable.h"
#include "engine/Voice.h"
#include "support/Bits.h"

inline void RenderReference(Voice& voice, int16_t* buffer, int32_t frameCount) {
  if (frameCount <= 0) return;
  const Sample* s = voice.sample;
  const double oneOver44100 = DoubleFromBits(0x3EF7C6F8C751F177ull);  // nearest to 1/44100
  const double rate = s->rate > 0 ? static_cast<double>(s->rate) : 0.0;
  const double ratio = PitchFactor(static_cast<int64_t>(voice.note) - s->baseNote);
  const int32_t gain = (voice.volume * voice.velocity) / 128;
  const int32_t start = voice.position;
  for (int32_t i = 0; i < frameCount; ++i) {
    if (voice.position >= s->length) {
      voice.state = VOICE_FINISHED;
      return;
    }
    int32_t left = buffer[2 * i] + (s->left[voice.position] * gain) / 256;
    int32_t right = buffer[2 * i + 1] + (s->right[voice.position] * gain) / 256;
    buffer[2 * i] = static_cast<int16_t>(left > 32767 ? 32767 : left < -32768 ? -32768 : left);
    buffer[2 * i + 1] = static_cast<int16_t>(right > 32767    ? 32767
                                             : right < -32768 ? -32768
                                                              : right);
    if (voice.state == VOICE_RELEASING) {
      // (counter x 128) / N of the sample's release frames: counter / 16 for 2048.
      voice.releaseCounter -= 1;
      const int32_t level =
          static_cast<int32_t>(int64_t{voice.releaseCounter} * 128 / s->releaseFrames);
      if (level < voice.velocity) voice.velocity = level;
      if (voice.velocity <= 0) {
        voice.velocity = 0;
        voice.state = VOICE_FINISHED;
        return;
      }
    }
    const double offset = rate * ratio * static_cast<double>(i + 1) * oneOver44100;
    voice.position = offset < static_cast<double>(INT32_MAX) - start
                         ? start + static_cast<int32_t>(offset)
                         : INT32_MAX;
  }
}
