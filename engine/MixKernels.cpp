#include "engine/MixKernels.h"

#include <atomic>

#include "engine/MixFrame.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
void TableScalar(int16_t* out, const int16_t* left, const int16_t* right, int32_t start,
                 const OffsetTable& table, int32_t first, int32_t count, int32_t gain) {
  for (int32_t k = first; k < count; ++k)
    MixFrame(out + 2 * k, left, right, start + table.Offset(k), gain);
}

void PositionsScalar(int16_t* out, const int16_t* left, const int16_t* right, const int32_t* at,
                     int32_t first, int32_t count, int32_t gain) {
  for (int32_t i = first; i < count; ++i) MixFrame(out + 2 * i, left, right, at[i], gain);
}

void TableScalarScaled(int16_t* out, const int16_t* left, const int16_t* right, int32_t start,
                       const OffsetTable& table, int32_t first, int32_t count, int32_t scale) {
  for (int32_t k = first; k < count; ++k)
    MixFrameScaled(out + 2 * k, left, right, start + table.Offset(k), scale);
}

void PositionsScalarScaled(int16_t* out, const int16_t* left, const int16_t* right,
                           const int32_t* at, int32_t first, int32_t count, int32_t scale) {
  for (int32_t i = first; i < count; ++i) MixFrameScaled(out + 2 * i, left, right, at[i], scale);
}

#if defined(__SSE2__)
// (v x scale) / 65536 truncated toward zero for eight 16-bit lanes, scale
// 0..65535 (a gain g is the scale g x 256): the magnitude times the scale
// through the unsigned high multiply is the truncated quotient, and the sign
// goes back on afterwards. |-32768| is 32768 as an unsigned lane, and
// 32768 x 65535 / 65536 still fits 16 bits.
inline __m128i Scale(__m128i v, __m128i lanes) {
  const __m128i sign = _mm_srai_epi16(v, 15);
  const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
  const __m128i scaled = _mm_mulhi_epu16(magnitude, lanes);
  return _mm_sub_epi16(_mm_xor_si128(scaled, sign), sign);
}

// Four frames, left and right interleaved as the buffer holds them.
inline __m128i Gather4(const int16_t* left, const int16_t* right, int32_t a0, int32_t a1,
                       int32_t a2, int32_t a3) {
  return _mm_setr_epi16(left[a0], right[a0], left[a1], right[a1], left[a2], right[a2], left[a3],
                        right[a3]);
}

inline void Add4(int16_t* out, __m128i frames, __m128i lanes) {
  __m128i* o = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(o, _mm_adds_epi16(_mm_loadu_si128(o), Scale(frames, lanes)));
}

// As the AVX2 kernels do: the sample frames a kilobyte ahead of the ones
// being mixed are asked for early (see MixKernelsAvx2.cpp).
inline void FetchAhead(const int16_t* left, const int16_t* right) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(left) + 1024),
               _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(right) + 1024),
               _MM_HINT_T0);
}

void TableSse2(int16_t* out, const int16_t* left, const int16_t* right, int32_t start,
               const OffsetTable& table, int32_t first, int32_t count, int32_t scale) {
  const __m128i lanes = _mm_set1_epi16(static_cast<int16_t>(scale));
  const int32_t groups = count / OffsetTable::kGroup;
  for (int32_t g = first / OffsetTable::kGroup; g < groups; ++g) {
    const int16_t* l = left + (start + table.base[g]);
    const int16_t* r = right + (start + table.base[g]);
    const uint8_t* d = table.delta + g * OffsetTable::kGroup;
    int16_t* o = out + 2 * OffsetTable::kGroup * g;
    FetchAhead(l, r);
    Add4(o, Gather4(l, r, d[0], d[1], d[2], d[3]), lanes);
    Add4(o + 8, Gather4(l, r, d[4], d[5], d[6], d[7]), lanes);
  }
  const int32_t tail = groups * OffsetTable::kGroup;
  TableScalarScaled(out, left, right, start, table, tail > first ? tail : first, count, scale);
}

void PositionsSse2(int16_t* out, const int16_t* left, const int16_t* right, const int32_t* at,
                   int32_t count, int32_t scale) {
  const __m128i lanes = _mm_set1_epi16(static_cast<int16_t>(scale));
  int32_t i = 0;
  for (; i + 4 <= count; i += 4)
    Add4(out + 2 * i, Gather4(left, right, at[i], at[i + 1], at[i + 2], at[i + 3]), lanes);
  PositionsScalarScaled(out, left, right, at, i, count, scale);
}
#endif

bool Supported(MixPath path) {
  switch (path) {
    // Equal branches only where the preprocessor leaves them equal.
    case MixPath::kScalar:  // NOLINT(bugprone-branch-clone)
      return true;
    case MixPath::kSse2:
#if defined(__SSE2__)
      return true;
#else
      return false;
#endif
    case MixPath::kAvx2:
#if defined(__x86_64__) || defined(__i386__)
      // May run before the library's own initialisation (a static
      // initialiser of another file): set up the processor data first.
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
  }
  return false;
}

std::atomic<int32_t>& PathInUse() {
  static std::atomic<int32_t> path{static_cast<int32_t>(BestMixPath())};
  return path;
}

inline bool VectorGain(int32_t gain) { return gain >= 0 && gain <= 255; }
inline bool VectorScale(int32_t scale) { return scale >= 0 && scale <= 65535; }

}  // namespace

MixPath BestMixPath() {
  if (Supported(MixPath::kAvx2)) return MixPath::kAvx2;
  if (Supported(MixPath::kSse2)) return MixPath::kSse2;
  return MixPath::kScalar;
}

bool UseMixPath(MixPath path) {
  if (!Supported(path)) return false;
  PathInUse().store(static_cast<int32_t>(path), std::memory_order_relaxed);
  return true;
}

MixPath CurrentMixPath() {
  return static_cast<MixPath>(PathInUse().load(std::memory_order_relaxed));
}

void MixByTable(int16_t* out, const int16_t* left, const int16_t* right, int32_t length,
                int32_t start, const OffsetTable& table, int32_t first, int32_t count,
                int32_t gain) noexcept {
  const MixPath path = VectorGain(gain) ? CurrentMixPath() : MixPath::kScalar;
  switch (path) {
    case MixPath::kAvx2:
      MixByTableAvx2(out, left, right, length, start, table, first, count, gain << 8);
      return;
#if defined(__SSE2__)
    case MixPath::kSse2:
      TableSse2(out, left, right, start, table, first, count, gain << 8);
      return;
#endif
    default:
      TableScalar(out, left, right, start, table, first, count, gain);
      return;
  }
}

void MixByTableScaled(int16_t* out, const int16_t* left, const int16_t* right, int32_t length,
                      int32_t start, const OffsetTable& table, int32_t first, int32_t count,
                      int32_t scale) noexcept {
  if (!VectorScale(scale)) return;
  switch (CurrentMixPath()) {
    case MixPath::kAvx2:
      MixByTableAvx2(out, left, right, length, start, table, first, count, scale);
      return;
#if defined(__SSE2__)
    case MixPath::kSse2:
      TableSse2(out, left, right, start, table, first, count, scale);
      return;
#endif
    default:
      TableScalarScaled(out, left, right, start, table, first, count, scale);
      return;
  }
}

void MixByPositions(int16_t* out, const int16_t* left, const int16_t* right, const int32_t* at,
                    int32_t count, int32_t gain) noexcept {
  const MixPath path = VectorGain(gain) ? CurrentMixPath() : MixPath::kScalar;
  switch (path) {
    case MixPath::kAvx2:
      MixByPositionsAvx2(out, left, right, at, count, gain << 8);
      return;
#if defined(__SSE2__)
    case MixPath::kSse2:
      PositionsSse2(out, left, right, at, count, gain << 8);
      return;
#endif
    default:
      PositionsScalar(out, left, right, at, 0, count, gain);
      return;
  }
}

void MixByPositionsScaled(int16_t* out, const int16_t* left, const int16_t* right,
                          const int32_t* at, int32_t count, int32_t scale) noexcept {
  if (!VectorScale(scale)) return;
  switch (CurrentMixPath()) {
    case MixPath::kAvx2:
      MixByPositionsAvx2(out, left, right, at, count, scale);
      return;
#if defined(__SSE2__)
    case MixPath::kSse2:
      PositionsSse2(out, left, right, at, count, scale);
      return;
#endif
    default:
      PositionsScalarScaled(out, left, right, at, 0, count, scale);
      return;
  }
}
