// The bits of a double and the double of given bits, for tests that pin
// floating-point values exactly.
#pragma once
#include <cstdint>
#include <cstring>

inline uint64_t BitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline double DoubleFromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
