#include "engine/PitchTable.h"

#include <cstdint>
#include <cstring>

double PitchTable[255];

namespace {
double FromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
}  // namespace

void BuildPitchTable() {
  // The nearest double to 2^(1/12), and one unit in the last place below the
  // nearest double to 2^(-1/12): that last bit is what the tuning was made with.
  const double up = FromBits(0x3FF0F38F92D97963ull);
  const double down = FromBits(0x3FEE3437E7101343ull);
  PitchTable[127] = 1.0;
  for (int k = 1; k <= 127; ++k) PitchTable[k + 127] = PitchTable[k + 126] * up;
  for (int k = -1; k >= -127; --k) PitchTable[k + 127] = PitchTable[k + 128] * down;
}
