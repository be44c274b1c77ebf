// The amplitude of a volume envelope over time, and the figures the writer
// needs from it: when it has settled on its sustain level, when it has
// fallen 60 dB, and the engine's release time that reaches -40 dB when the
// envelope's release would.
#pragma once
#include <algorithm>

#include "tools/import/ImportZone.h"

class VolumeEnvelope {
 public:
  // The envelope as it plays on one key (hold and decay follow the key).
  VolumeEnvelope(const EnvelopeSpec& spec, int key);

  // Amplitude (1.0 at full level) t seconds after the note starts, held.
  double Amplitude(double t) const;
  // The same through the delay, attack and hold, and 1.0 after: what the
  // file holds when the engine plays the decay.
  double AttackAmplitude(double t) const;
  // When the hold ends and the decay begins (seconds from the start).
  double HoldEnd() const { return spec_.delay + spec_.attack + spec_.hold; }
  // True when the held level falls; at DecayDbPerSecond, down to the sustain
  // (without a decay time at once: a million dB a second).
  bool Decays() const { return spec_.sustainDb > 0.0; }
  double DecayDbPerSecond() const {
    return spec_.decayDbPerSecond > 0.0 ? std::min(spec_.decayDbPerSecond, 1e6) : 1e6;
  }
  // When the sustain level is reached (or the level has fallen 60 dB, when
  // the sustain level lies below that).
  double SettleTime() const;
  // True when the held note falls 60 dB or more.
  bool DecaysToSilence() const { return spec_.sustainDb >= 60.0; }
  // Milliseconds of the engine's linear release fade (which reaches -40 dB
  // at 99% of its length) so that it reaches -40 dB when this envelope's
  // release does; at least 1. A sound that falls by itself as well, by
  // soundDbPerSecond, reaches -40 dB sooner in both: the fade is made as
  // long as brings it there at the same moment (the same rule when 0).
  int ReleaseMs(double soundDbPerSecond = 0.0) const;

 private:
  EnvelopeSpec spec_;
  double decayEnd_;
};
