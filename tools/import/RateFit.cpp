#include "tools/import/RateFit.h"

#include <algorithm>
#include <cmath>

#include "engine/OffsetTable.h"
#include "engine/PitchTable.h"

double RateFit::FlatCents(int32_t rate, int base, int key) {
  const double speed = rate * PitchFactor(static_cast<int64_t>(key) - base);
  const double exact = speed * 1024.0 * kOneOverOutputRate;
  const int32_t whole = OffsetAt(speed, 1024);
  if (whole <= 0) return 1200.0 * 16;
  return std::max(0.0, -1200.0 * std::log2(whole / exact));
}

double RateFit::WorstCents(int32_t rate, int base, int keyLo, int keyHi) {
  double worst = 0.0;
  for (int key = keyLo; key <= keyHi; ++key) worst = std::max(worst, FlatCents(rate, base, key));
  return worst;
}

RateChoice RateFit::Choose(double idealRate, int base, int keyLo, int keyHi, int64_t loopLength,
                           double maxRatio, bool anyFit) {
  RateChoice best;
  best.worstCents = 1e9;
  auto consider = [&](double ratio, int64_t length) {
    const double rate = std::round(idealRate * ratio);
    if (rate < 1.0 || rate > 2147483647.0) return false;
    const int32_t whole = static_cast<int32_t>(rate);
    // Only whether one fits: a rate is given up at its first key out of
    // tune, the lowest (the slowest, mostly the flattest) tried first.
    if (anyFit) {
      for (int key = keyLo; key <= keyHi; ++key)
        if (FlatCents(whole, base, key) > kToleranceCents) return false;
      best.found = true;
      best.rate = whole;
      best.ratio = ratio;
      best.loopLength = length;
      return true;
    }
    const double cents = WorstCents(whole, base, keyLo, keyHi);
    if (cents < best.worstCents) {
      best.rate = whole;
      best.ratio = ratio;
      best.loopLength = length;
      best.worstCents = cents;
    }
    if (cents <= kToleranceCents) {
      best.found = true;
      return true;
    }
    return false;
  };
  if (loopLength > 0) {
    const int64_t last = static_cast<int64_t>(std::floor(loopLength * maxRatio));
    for (int64_t length = loopLength; length <= last; ++length)
      if (consider(static_cast<double>(length) / static_cast<double>(loopLength), length))
        return best;
    return best;
  }
  const double first = std::round(idealRate);
  const double last = std::floor(idealRate * maxRatio);
  if (first >= 1.0 && consider(1.0, 0)) return best;
  for (double rate = first + 1.0; rate <= last; rate += 1.0)
    if (consider(rate / idealRate, 0)) return best;
  return best;
}
