// The inner loops of voice rendering: a voice's sample frames, scaled by its
// gain, added into an interleaved stereo buffer with saturation. Each frame
// adds (sample x gain) / 256, the product 32-bit and the quotient truncated
// toward zero, then clamps the sum to 16 bits; every path gives exactly
// those bytes.
//
// Three paths: plain C++, SSE2 (the x86-64 baseline the program is built
// for) and AVX2, chosen at run time from what the processor offers. The
// vector paths take gains 0 to 255, where every contribution fits 16 bits;
// other gains always go the plain way.
#pragma once
#include <cstdint>

#include "engine/OffsetTable.h"

enum class MixPath : int32_t { kScalar = 0, kSse2 = 1, kAvx2 = 2 };

// The fastest path this processor runs.
MixPath BestMixPath();
// The path every render uses from now on; false (and nothing changes) when
// the processor cannot run it. For tests and benchmarks, while nothing
// renders.
bool UseMixPath(MixPath path);
MixPath CurrentMixPath();

// Adds frames k = first .. count - 1 (first a multiple of 8, a whole group of
// the table): sample frame start + T(k) of left and right. Every one of those
// frames lies in 0 .. length - 1; start alone may lie below 0.
void MixByTable(int16_t* out, const int16_t* left, const int16_t* right, int32_t length,
                int32_t start, const OffsetTable& table, int32_t first, int32_t count,
                int32_t gain) noexcept;

// Adds frames i = 0 .. count - 1: sample frame at[i] of left and right.
void MixByPositions(int16_t* out, const int16_t* left, const int16_t* right, const int32_t* at,
                    int32_t count, int32_t gain) noexcept;

// The same two with the finer scale of a shaped voice: each frame adds
// (sample x scale) / 65536, truncated toward zero, scale 0..65535 (a scale
// outside that adds nothing). A gain g of 0..255 and the scale g x 256 give
// the same bytes.
void MixByTableScaled(int16_t* out, const int16_t* left, const int16_t* right, int32_t length,
                      int32_t start, const OffsetTable& table, int32_t first, int32_t count,
                      int32_t scale) noexcept;
void MixByPositionsScaled(int16_t* out, const int16_t* left, const int16_t* right,
                          const int32_t* at, int32_t count, int32_t scale) noexcept;

// The AVX2 kernels (MixKernelsAvx2.cpp, compiled for AVX2 function by
// function), with the scale (a gain g as g x 256). Only through the functions
// above, which check the processor and the gain.
void MixByTableAvx2(int16_t* out, const int16_t* left, const int16_t* right, int32_t length,
                    int32_t start, const OffsetTable& table, int32_t first, int32_t count,
                    int32_t scale) noexcept;
void MixByPositionsAvx2(int16_t* out, const int16_t* left, const int16_t* right, const int32_t* at,
                        int32_t count, int32_t scale) noexcept;
