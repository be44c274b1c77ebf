// The AVX2 kernels. Only these functions are compiled for AVX2 (target
// attributes), so the rest of the program stays on the x86-64 baseline and
// nothing here is reached unless the processor has AVX2. Eight frames (sixteen
// 16-bit lanes, left and right interleaved) per step.
#include "engine/MixFrame.h"
#include "engine/MixKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define PELVANE_AVX2 __attribute__((target("avx2")))
// Always inlined: a 256-bit value never crosses a call (the 64-bit Windows
// convention would pass it through memory the compiler cannot align).
#define PELVANE_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace {
// (v x scale) / 65536 truncated toward zero, scale 0..65535 (a gain g is the
// scale g x 256): the magnitude times the scale through the unsigned high
// multiply, then the sign of v. |-32768| is 32768 as an unsigned lane;
// 32768 x 65535 / 65536 still fits 16 bits.
PELVANE_AVX2_INLINE __m256i Scale(__m256i v, __m256i lanes) {
  return _mm256_sign_epi16(_mm256_mulhi_epu16(_mm256_abs_epi16(v), lanes), v);
}

PELVANE_AVX2_INLINE void Add8(int16_t* out, __m256i frames, __m256i lanes) {
  __m256i* o = reinterpret_cast<__m256i*>(out);
  _mm256_storeu_si256(o, _mm256_adds_epi16(_mm256_loadu_si256(o), Scale(frames, lanes)));
}

inline int32_t Pair(const int16_t* left, const int16_t* right, int32_t at) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(left[at])) |
                              static_cast<uint32_t>(static_cast<uint16_t>(right[at])) << 16);
}

// Eight frames at any positions, one 32-bit left/right pair each.
PELVANE_AVX2_INLINE __m256i Gather8(const int16_t* left, const int16_t* right, int32_t a0,
                                    int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                    int32_t a6, int32_t a7) {
  return _mm256_setr_epi32(Pair(left, right, a0), Pair(left, right, a1), Pair(left, right, a2),
                           Pair(left, right, a3), Pair(left, right, a4), Pair(left, right, a5),
                           Pair(left, right, a6), Pair(left, right, a7));
}

// Eight frames whose positions lie within left/right[0..7]: the window is
// loaded whole, paired, and each frame's pair picked by its step.
PELVANE_AVX2_INLINE __m256i Window8(const int16_t* left, const int16_t* right, __m256i steps) {
  const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left));
  const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right));
  const __m256i pairs = _mm256_set_m128i(_mm_unpackhi_epi16(l, r), _mm_unpacklo_epi16(l, r));
  return _mm256_permutevar8x32_epi32(pairs, steps);
}

// The same within left/right[0..15]: two windows of eight pairs, each frame
// taking its pair from the one its step falls in.
PELVANE_AVX2_INLINE __m256i Window16(const int16_t* left, const int16_t* right, __m256i steps,
                                     __m256i seven) {
  const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(left));
  const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(right));
  const __m256i low = _mm256_unpacklo_epi16(l, r);   // pairs 0-3 | 8-11
  const __m256i high = _mm256_unpackhi_epi16(l, r);  // pairs 4-7 | 12-15
  const __m256i first = _mm256_permute2x128_si256(low, high, 0x20);
  const __m256i second = _mm256_permute2x128_si256(low, high, 0x31);
  return _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(first, steps),
                            _mm256_permutevar8x32_epi32(second, steps),
                            _mm256_cmpgt_epi32(steps, seven));
}

// Each voice reads its sample front to back, and a refill goes through up to
// 256 voices in turn: more streams than the processor's own prefetcher
// follows from a standing start. So the kernels ask for the sample frames a
// kilobyte ahead of the ones they mix, once per 64-byte line.
constexpr uintptr_t kAheadBytes = 1024;

inline void FetchAhead(const int16_t* left, const int16_t* right) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(left) + kAheadBytes),
               _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(right) + kAheadBytes),
               _MM_HINT_T0);
}

PELVANE_AVX2_INLINE __m256i Steps(const uint8_t* delta) {
  return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(delta)));
}

}  // namespace

PELVANE_AVX2 void MixByTableAvx2(int16_t* out, const int16_t* left, const int16_t* right,
                                 int32_t length, int32_t start, const OffsetTable& table,
                                 int32_t first, int32_t count, int32_t scale) noexcept {
  const __m256i lanes = _mm256_set1_epi16(static_cast<int16_t>(scale));
  const int32_t groups = count / OffsetTable::kGroup;
  int32_t g = first / OffsetTable::kGroup;
  // Windows are read whole, so they are used only while they end inside the
  // sample; the groups after that take their frames one by one. A group
  // spans at most 8, 16 or 32 sample frames of a 32-frame line.
  if (table.span <= 7) {
    for (; g < groups; ++g) {
      const int32_t at = start + table.base[g];
      if (at > length - 8) break;
      if (g % 4 == 0) FetchAhead(left + at, right + at);
      Add8(out + 16 * g, Window8(left + at, right + at, Steps(table.delta + 8 * g)), lanes);
    }
  } else if (table.span <= 15) {
    const __m256i seven = _mm256_set1_epi32(7);
    for (; g < groups; ++g) {
      const int32_t at = start + table.base[g];
      if (at > length - 16) break;
      if (g % 2 == 0) FetchAhead(left + at, right + at);
      Add8(out + 16 * g, Window16(left + at, right + at, Steps(table.delta + 8 * g), seven), lanes);
    }
  }
  for (; g < groups; ++g) {
    const int16_t* l = left + (start + table.base[g]);
    const int16_t* r = right + (start + table.base[g]);
    const uint8_t* d = table.delta + 8 * g;
    FetchAhead(l, r);
    Add8(out + 16 * g, Gather8(l, r, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]), lanes);
  }
  const int32_t tail = groups * OffsetTable::kGroup;
  for (int32_t k = tail > first ? tail : first; k < count; ++k)
    MixFrameScaled(out + 2 * k, left, right, start + table.Offset(k), scale);
}

PELVANE_AVX2 void MixByPositionsAvx2(int16_t* out, const int16_t* left, const int16_t* right,
                                     const int32_t* at, int32_t count, int32_t scale) noexcept {
  const __m256i lanes = _mm256_set1_epi16(static_cast<int16_t>(scale));
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const int32_t* a = at + i;
    Add8(out + 2 * i, Gather8(left, right, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]), lanes);
  }
  for (; i < count; ++i) MixFrameScaled(out + 2 * i, left, right, at[i], scale);
}

#else

// Not an x86 processor: never selected (BestMixPath says so).
void MixByTableAvx2(int16_t*, const int16_t*, const int16_t*, int32_t, int32_t, const OffsetTable&,
                    int32_t, int32_t, int32_t) noexcept {}
void MixByPositionsAvx2(int16_t*, const int16_t*, const int16_t*, const int32_t*, int32_t,
                        int32_t) noexcept {}

#endif
