#include "engine/OffsetTable.h"

#include <climits>

bool OffsetTable::Build(double newSpeed) {
  speed = newSpeed;
  usable = false;
  if (!(newSpeed >= 0) || !(newSpeed * kFrames * kOneOverOutputRate < static_cast<double>(INT32_MAX)))
    return false;
  int32_t widest = 0;
  for (int32_t g = 0; g <= kGroups; ++g) {
    const int32_t first = OffsetAt(newSpeed, g * kGroup);
    base[g] = first;
    for (int32_t j = 0; j < kGroup; ++j) {
      const int32_t k = g * kGroup + j;
      if (k > kFrames) {
        delta[k] = 0;
        continue;
      }
      const int32_t step = OffsetAt(newSpeed, k) - first;
      if (step > 255) return false;
      delta[k] = static_cast<uint8_t>(step);
      if (step > widest) widest = step;
    }
  }
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
