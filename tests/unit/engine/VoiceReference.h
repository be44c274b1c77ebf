// Voice rendering as the plain frame-by-frame loop: the definition that the
// engine's faster Voice::Render must match bit for bit. It knows no loops: a
// looped voice is defined by the same sample with its loop written out.
// Samples with exact pitch carry the fraction of a frame from call to call;
// shaped ones take their scale anew every 64 frames of a call.
#pragma once
#include <climits>
#include <cstdint>

#include "engine/PitchTable.h"
#include "engine/Voice.h"
#include "support/Bits.h"

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

// One call. A shaped voice takes its scale anew every 64 frames: its level,
// decaying while the note sounds down to the sustain (below 2^-10 for good,
// the voice ends), times the gain of the velocity as it stands then.
inline void RenderCallReference(Voice& voice, int16_t* buffer, int32_t frameCount) {
  const Sample* s = voice.sample;
  const bool shaped = s->Shaped();
  const double oneOver44100 = DoubleFromBits(0x3EF7C6F8C751F177ull);  // nearest to 1/44100
  const double rate = s->rate > 0 ? static_cast<double>(s->rate) : 0.0;
  const double ratio = PitchFactor(static_cast<int64_t>(voice.note) - s->baseNote);
  // The gain is the call's, taken before the fade lowers the velocity.
  const int32_t gain = (voice.volume * voice.velocity) / 128;
  int32_t scale = 0;
  const int32_t start = voice.position;
  for (int32_t i = 0; i < frameCount; ++i) {
    if (shaped && i % 64 == 0) {
      if (s->decayStart >= 0 && voice.elapsed + i >= s->decayStart &&
          voice.state != VOICE_RELEASING) {
        voice.envelope = voice.envelope * s->decayFactor / (int64_t{1} << 30);
        if (voice.envelope < s->sustainLevel) voice.envelope = s->sustainLevel;
        if (voice.envelope < (1 << 20) && s->sustainLevel < (1 << 20)) {
          voice.state = VOICE_FINISHED;
          return;
        }
      }
      const int64_t g = (voice.volume * voice.velocity) / 128;
      const int64_t product = g <= 0 ? 0 : g * (voice.envelope / (1 << 14)) / 256;
      scale = static_cast<int32_t>(product > 65535 ? 65535 : product);
    }
    if (voice.position >= s->length) {
      voice.state = VOICE_FINISHED;
      return;
    }
    const int32_t l = s->left[voice.position], r = s->right[voice.position];
    int32_t left = buffer[2 * i] + (shaped ? (l * scale) / 65536 : (l * gain) / 256);
    int32_t right = buffer[2 * i + 1] + (shaped ? (r * scale) / 65536 : (r * gain) / 256);
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
  if (s->exactPitch || shaped) CarryReference(voice, frameCount);
  voice.elapsed += frameCount;
}

// A shaped voice plays a longer call as calls of 1024 frames.
inline void RenderReference(Voice& voice, int16_t* buffer, int32_t frameCount) {
  if (frameCount <= 0) return;
  const int32_t most = voice.sample->Shaped() ? 1024 : frameCount;
  for (int32_t done = 0; done < frameCount && voice.state != VOICE_FINISHED; done += most)
    RenderCallReference(voice, buffer + 2 * done,
                        frameCount - done < most ? frameCount - done : most);
}
