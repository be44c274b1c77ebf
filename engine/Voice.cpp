#include "engine/Voice.h"

#include <climits>
#include <cstring>

#include "engine/PitchTable.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  return static_cast<int16_t>(value > 32767 ? 32767 : value < -32768 ? -32768 : value);
}

// at[i] = start + T(first + i) for i < n, T(k) = speed x k x 1/44100
// truncated, each product rounded exactly as in the scalar expression. The
// caller has made sure every offset fits.
void Positions(int32_t* at, int32_t first, int32_t n, int32_t start, double speed) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128d speed2 = _mm_set1_pd(speed);
  const __m128d scale2 = _mm_set1_pd(kOneOverOutputRate);
  const __m128i start4 = _mm_set1_epi32(start);
  for (; i + 4 <= n; i += 4) {
    const __m128i k = _mm_add_epi32(_mm_set1_epi32(first + i), _mm_setr_epi32(0, 1, 2, 3));
    const __m128d lo = _mm_mul_pd(_mm_mul_pd(speed2, _mm_cvtepi32_pd(k)), scale2);
    const __m128d hi = _mm_mul_pd(_mm_mul_pd(speed2, _mm_cvtepi32_pd(_mm_srli_si128(k, 8))), scale2);
    const __m128i offsets = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + i), _mm_add_epi32(start4, offsets));
  }
#endif
  for (; i < n; ++i)
    at[i] = start + static_cast<int32_t>(speed * static_cast<double>(first + i) * kOneOverOutputRate);
}

// Adds frames left/right[at[i]] x gain / 256 into out (interleaved), each
// addition saturated.
void MixFrames(int16_t* out, const int16_t* left, const int16_t* right, const int32_t* at,
               int32_t count, int32_t gain) {
  int32_t i = 0;
#if defined(__SSE2__)
  // With 0 <= gain <= 255 every contribution fits 16 bits, so the saturated
  // 32-bit sum equals a saturating 16-bit add.
  if (gain >= 0 && gain <= 255) {
    const __m128i gain8 = _mm_set1_epi16(static_cast<int16_t>(gain));
    const __m128i round = _mm_set1_epi32(255);
    auto scale = [&](__m128i v) {
      const __m128i lo = _mm_mullo_epi16(v, gain8);
      const __m128i hi = _mm_mulhi_epi16(v, gain8);
      __m128i p0 = _mm_unpacklo_epi16(lo, hi);
      __m128i p1 = _mm_unpackhi_epi16(lo, hi);
      // Division by 256 truncating toward zero: negative products get 255 added.
      p0 = _mm_srai_epi32(_mm_add_epi32(p0, _mm_and_si128(_mm_srai_epi32(p0, 31), round)), 8);
      p1 = _mm_srai_epi32(_mm_add_epi32(p1, _mm_and_si128(_mm_srai_epi32(p1, 31), round)), 8);
      return _mm_packs_epi32(p0, p1);
    };
    for (; i + 8 <= count; i += 8) {
      const int32_t* a = at + i;
      const __m128i l = _mm_setr_epi16(left[a[0]], left[a[1]], left[a[2]], left[a[3]], left[a[4]],
                                       left[a[5]], left[a[6]], left[a[7]]);
      const __m128i r = _mm_setr_epi16(right[a[0]], right[a[1]], right[a[2]], right[a[3]],
                                       right[a[4]], right[a[5]], right[a[6]], right[a[7]]);
      const __m128i cl = scale(l);
      const __m128i cr = scale(r);
      __m128i* o = reinterpret_cast<__m128i*>(out + 2 * i);
      _mm_storeu_si128(o, _mm_adds_epi16(_mm_loadu_si128(o), _mm_unpacklo_epi16(cl, cr)));
      _mm_storeu_si128(o + 1, _mm_adds_epi16(_mm_loadu_si128(o + 1), _mm_unpackhi_epi16(cl, cr)));
    }
  }
#endif
  for (; i < count; ++i) {
    out[2 * i] = Saturate(out[2 * i] + (left[at[i]] * gain) / 256);
    out[2 * i + 1] = Saturate(out[2 * i + 1] + (right[at[i]] * gain) / 256);
  }
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

// Equivalent to mixing frame by frame (check the end, mix, step the fade,
// advance), but split so the hot loop has no branches: the positions of a
// chunk are computed first (each independently, start + T(i), exactly as the
// frame-by-frame loop computes them), then the frames are mixed, and the fade
// is applied in closed form. This works because positions never decrease
// (rounded products are monotonic) and the fade's effect on the velocity
// within a call is min(velocity, (counter - k) / 16) after k frames.
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

  constexpr int32_t kChunk = 256;
  int32_t at[kChunk];
  const int16_t* left = s->left;
  const int16_t* right = s->right;
  int32_t mixed = 0;
  int32_t endPosition = -1;  // where the sample end was met, if it was
  while (mixed < limit) {
    const int32_t n = limit - mixed < kChunk ? limit - mixed : kChunk;
    Positions(at, mixed, n, start, speed);
    int32_t count = n;
    if (at[n - 1] >= length) {
      count = 0;
      while (at[count] < length) ++count;
      endPosition = at[count];
    }
    MixFrames(buffer + 2 * mixed, left, right, at, count, gain);
    mixed += count;
    if (endPosition >= 0) break;
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
    position = start + static_cast<int32_t>(speed * static_cast<double>(limit - 1) * kOneOverOutputRate);
    velocity = 0;
    state = VOICE_FINISHED;
  } else {
    position = start + static_cast<int32_t>(speed * static_cast<double>(frameCount) * kOneOverOutputRate);
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
