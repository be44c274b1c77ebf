#include "engine/OffsetTable.h"

#include <climits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void Offsets(int32_t* at, int32_t first, int32_t n, int32_t start, double speed) {
  int32_t i = 0;
#if defined(__SSE2__)
  // mulpd and cvttpd2dq round and truncate each lane as the scalar
  // instructions do, so the lanes hold exactly what OffsetAt gives.
  const __m128d speed2 = _mm_set1_pd(speed);
  const __m128d scale2 = _mm_set1_pd(kOneOverOutputRate);
  const __m128i start4 = _mm_set1_epi32(start);
  for (; i + 4 <= n; i += 4) {
    const __m128i k = _mm_add_epi32(_mm_set1_epi32(first + i), _mm_setr_epi32(0, 1, 2, 3));
    const __m128d lo = _mm_mul_pd(_mm_mul_pd(speed2, _mm_cvtepi32_pd(k)), scale2);
    const __m128d hi =
        _mm_mul_pd(_mm_mul_pd(speed2, _mm_cvtepi32_pd(_mm_srli_si128(k, 8))), scale2);
    const __m128i offsets = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + i), _mm_add_epi32(start4, offsets));
  }
#endif
  for (; i < n; ++i) at[i] = start + OffsetAt(speed, first + i);
}

bool OffsetTable::Build(double newSpeed) {
  speed = newSpeed;
  usable = false;
  if (!(newSpeed >= 0) ||
      !(newSpeed * kFrames * kOneOverOutputRate < static_cast<double>(INT32_MAX)))
    return false;
  int32_t all[kFrames + 1];
  Offsets(all, 0, kFrames + 1, 0, newSpeed);
  int32_t widest = 0;
  for (int32_t g = 0; g < kGroups; ++g) {
    const int32_t* group = all + g * kGroup;
    base[g] = group[0];
    for (int32_t j = 0; j < kGroup; ++j) {
      const int32_t step = group[j] - group[0];
      if (step > 255) return false;
      delta[g * kGroup + j] = static_cast<uint8_t>(step);
    }
    if (group[kGroup - 1] - group[0] > widest) widest = group[kGroup - 1] - group[0];
  }
  base[kGroups] = all[kFrames];
  for (int32_t k = kFrames; k < kFrames + kGroup; ++k) delta[k] = 0;
  span = widest;
  usable = true;
  return true;
}

int32_t OffsetTable::FramesBefore(int32_t start, int32_t length, int32_t limit) const {
  if (limit <= 0 || start >= length) return 0;
  if (start + Offset(limit - 1) < length) return limit;
  // Offsets never decrease (a rounded product of growing factors), so the
  // frames that play are a prefix: find its end by bisection.
  int32_t low = 0;           // start + T(low) < length
  int32_t high = limit - 1;  // start + T(high) >= length
  while (high - low > 1) {
    const int32_t middle = low + (high - low) / 2;
    if (start + Offset(middle) < length)
      low = middle;
    else
      high = middle;
  }
  return high;
}
