// One frame of one voice added into the mix, as every mixing path does it at
// the frames it cannot take a vector at a time: the sample's value scaled by
// gain / 256 (truncated toward zero), then saturated to 16 bits. A shaped
// voice's finer scale is scale / 65536 the same way, for scales 0..65535; a
// gain g of 0..255 is the scale g x 256, to the bit.
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

inline void MixFrameScaled(int16_t* frame, const int16_t* left, const int16_t* right, int32_t at,
                           int32_t scale) {
  // |value| x 65535 still fits 32 bits.
  frame[0] = Saturate(frame[0] + (left[at] * scale) / 65536);
  frame[1] = Saturate(frame[1] + (right[at] * scale) / 65536);
}
