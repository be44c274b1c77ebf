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

double VolumeEnvelope::AttackAmplitude(double t) const {
  return t < HoldEnd() ? Amplitude(t) : 1.0;
}

double VolumeEnvelope::SettleTime() const { return decayEnd_; }

int VolumeEnvelope::ReleaseMs(double soundDbPerSecond) const {
  // Both fall 40 dB at t = 40 / (r + d): the release's r dB a second on the
  // sound's d. The fade has then taken 40 r / (r + d) dB of it, which a
  // linear fade of length L does at t = L (1 - 10^(-2 r / (r + d))).
  const double r = spec_.releaseDbPerSecond;
  const double d = std::max(0.0, soundDbPerSecond);
  if (d == 0.0) return std::max(1, static_cast<int>(std::lround(40.0 / r / 0.99 * 1000.0)));
  const double fall40 = 40.0 / (r + d);
  const double length = fall40 / (1.0 - std::pow(10.0, -2.0 * r / (r + d)));
  return std::max(1, static_cast<int>(std::lround(length * 1000.0)));
}
