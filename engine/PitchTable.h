// Speed factors for semitone offsets -127..+127 between a played note and a
// sample's base note; offset k is stored at index k + 127.
#pragma once
#include <cstdint>

constexpr int PITCH_TABLE_MIN = -127;
constexpr int PITCH_TABLE_MAX = 127;

extern double PitchTable[255];

// Fills the table by repeated multiplication outward from 1.0. The rounding of
// each product is part of the result: rendering truncates positions computed
// from these exact values.
void BuildPitchTable();

// The factor for offset k, k clamped to the table's range. 64-bit, so that a
// note minus any 32-bit base note cannot overflow on the way here.
inline double PitchFactor(int64_t k) {
  if (k < PITCH_TABLE_MIN) k = PITCH_TABLE_MIN;
  if (k > PITCH_TABLE_MAX) k = PITCH_TABLE_MAX;
  return PitchTable[k + 127];
}
