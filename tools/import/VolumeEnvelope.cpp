#include "tools/import/VolumeEnvelope.h"

#include <algorithm>
#include <cmath>

VolumeEnvelope::VolumeEnvelope(const EnvelopeSpec& spec, int key) : spec_(spec) {
  spec_.hold *= std::exp2(spec.holdTimecentsPerKey * (60 - key) / 1200.0);
  if (spec.decayDbPerSecond > 0.0)
    spec_.decayDbPerSecond /= std::exp2(spec.decayTimecentsPerKey * (60 - key) / 1200.0);
  const double fall = std::min(spec_.sustainDb, 60.0);
  const double decayTime = fall <= 0.0                    ? 0.0
                           : spec_.decayDbPerSecond > 0.0 ? fall / spec_.decayDbPerSecond
                                                          : 0.0;
  decayEnd_ = spec_.delay + spec_.attack + spec_.hold + decayTime;
}

double VolumeEnvelope::Amplitude(double t) const {
  if (t < spec_.delay) return 0.0;
  t -= spec_.delay;
  if (t < spec_.attack) return t / spec_.attack;
  t -= spec_.attack;
  if (t < spec_.hold) return 1.0;
  t -= spec_.hold;
  double db = spec_.decayDbPerSecond > 0.0 ? t * spec_.decayDbPerSecond : spec_.sustainDb;
  db = std::min(db, spec_.sustainDb);
  return std::pow(10.0, -db / 20.0);
}

double VolumeEnvelope::SettleTime() const { return decayEnd_; }

int VolumeEnvelope::ReleaseMs() const {
  const double fall40 = 40.0 / spec_.releaseDbPerSecond;
  return std::max(1, static_cast<int>(std::lround(fall40 / 0.99 * 1000.0)));
}
