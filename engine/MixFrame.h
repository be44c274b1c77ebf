// One frame of one voice added into the mix, as every mixing path does it at
// the frames it cannot take a vector at a time: the sample's value scaled by
// gain / 256 (truncated toward zero), then saturated to 16 bits.
#pragma once
#include <cstdint>

inline int16_t Saturate(int32_t value) {
  return static_cast<int16_t>(value > 32767 ? 32767 : value < -32768 ? -32768 : value);
}

inline void MixFrame(int16_t* frame, const int16_t* left, const int16_t* right, int32_t at,
                     int32_t gain) {
  frame[0] = Saturate(frame[0] + (left[at] * gain) / 256);
  frame[1] = Saturate(frame[1] + (right[at] * gain) / 256);
}
