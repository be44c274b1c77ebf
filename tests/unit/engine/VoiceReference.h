// Voice rendering as the plain frame-by-frame loop: the definition that the
// engine's faster Voice::Render must match bit for bit. It knows no loops: a
// looped voice is defined by the same sample with its loop written out.
// Shaped samples play in pieces of 64 frames, each at the level as it
// begins, with the fraction of a frame carried from piece to piece.
#pragma once
#include <climits>
#include <cstdint>

#include "engine/PitchTable.h"
#include "engine/Voice.h"
#include "support/Bits.h"

// One call, or one piece of a shaped voice: every frame at the gain
// (gain / 256), or at a shaped voice's scale (scale / 65536) when fine.
inline void RenderFramesReference(Voice& voice, int16_t* buffer, int32_t frameCount, bool fine,
                                  int32_t scale) {
  const Sample* s = voice.sample;
  const double oneOver44100 = DoubleFromBits(0x3EF7C6F8C751F177ull);  // nearest to 1/44100
  const double rate = s->rate > 0 ? static_cast<double>(s->rate) : 0.0;
  const double ratio = PitchFactor(static_cast<int64_t>(voice.note) - s->baseNote);
  // The gain is the call's, taken before the fade lowers the velocity.
  const int32_t gain = (voice.volume * voice.velocity) / 128;
  const int32_t start = voice.position;
  for (int32_t i = 0; i < frameCount; ++i) {
    if (voice.position >= s->length) {
      voice.state = VOICE_FINISHED;
      return;
    }
    const int32_t l = s->left[voice.position], r = s->right[voice.position];
    int32_t left = buffer[2 * i] + (fine ? (l * scale) / 65536 : (l * gain) / 256);
    int32_t right = buffer[2 * i + 1] + (fine ? (r * scale) / 65536 : (r * gain) / 256);
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

// The fraction of a frame a call of n frames leaves, kept: a whole one moves
// the position on by one.
inline void CarryReference(Voice& voice, int32_t n) {
  if (voice.state == VOICE_FINISHED) return;
  const Sample* s = voice.sample;
  const double rate = s->rate > 0 ? static_cast<double>(s->rate) : 0.0;
  const double exact = rate * PitchFactor(static_cast<int64_t>(voice.note) - s->baseNote) *
                       static_cast<double>(n) * DoubleFromBits(0x3EF7C6F8C751F177ull);
  if (!(exact < 0x1p62)) return;
  voice.fraction += exact - static_cast<double>(static_cast<int64_t>(exact));
  if (voice.fraction >= 1.0) {
    voice.fraction -= 1.0;
    if (voice.position < INT32_MAX) voice.position += 1;
  }
}

inline void RenderReference(Voice& voice, int16_t* buffer, int32_t frameCount) {
  if (frameCount <= 0) return;
  const Sample* s = voice.sample;
  if (!s->Shaped()) {
    RenderFramesReference(voice, buffer, frameCount, false, 0);
    if (s->exactPitch) CarryReference(voice, frameCount);
    return;
  }
  // Pieces of 64 frames; the level as each begins, decaying while the note
  // sounds, down to the sustain; below 2^-16 for good, the voice ends.
  for (int32_t done = 0; done < frameCount && voice.state != VOICE_FINISHED;) {
    const int32_t n = frameCount - done < 64 ? frameCount - done : 64;
    if (s->decayStart >= 0 && voice.elapsed >= s->decayStart && voice.state != VOICE_RELEASING) {
      voice.envelope = voice.envelope * s->decayFactor / (int64_t{1} << 30);
      if (voice.envelope < s->sustainLevel) voice.envelope = s->sustainLevel;
      if (voice.envelope < (1 << 14) && s->sustainLevel < (1 << 14)) {
        voice.state = VOICE_FINISHED;
        return;
      }
    }
    const int64_t gain = (voice.volume * voice.velocity) / 128;
    int64_t scale = gain <= 0 ? 0 : gain * (voice.envelope / (1 << 14)) / 256;
    if (scale > 65535) scale = 65535;
    RenderFramesReference(voice, buffer + 2 * done, n, true, static_cast<int32_t>(scale));
    CarryReference(voice, n);
    voice.elapsed += n;
    done += n;
  }
}
