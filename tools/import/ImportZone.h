// What the SoundFont and SFZ readers hand the writer: for each instrument,
// the zones that sound at the chosen velocity, each with its source audio,
// its keys, its tuning, its loop, its level and pan, and its volume
// envelope. The writer turns each into 16-bit WAV files the engine plays
// in tune.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class LoopMode { kNone, kContinuous, kSustain };

// Decoded audio, interleaved, full scale at 1.0.
struct SourceAudio {
  std::vector<float> frames;
  int channels = 1;
  double rate = 44100.0;
  std::string name;  // for the report and the WAV file's name
  size_t FrameCount() const {
    return channels > 0 ? frames.size() / static_cast<size_t>(channels) : 0;
  }
  float At(size_t frame, int channel) const {
    return frames[frame * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
  }
};

// The volume envelope, in the shape the SoundFont format gives it: silence
// for delay, a linear rise over attack, full level for hold, then a fall in
// decibels linear in time at decayDbPerSecond down to sustainDb below full,
// held until the note is released; the release falls at releaseDbPerSecond.
// Hold and decay may follow the key (timecents per key below key 60).
struct EnvelopeSpec {
  double delay = 0.0;
  double attack = 0.0;
  double hold = 0.0;
  double decayDbPerSecond = 0.0;  // 0: no decay
  double sustainDb = 0.0;         // attenuation of the sustain level, >= 0
  double releaseDbPerSecond = 96.0 / 0.001;
  double holdTimecentsPerKey = 0.0;
  double decayTimecentsPerKey = 0.0;
};

// The modulation envelope, as FluidSynth plays it: 0 for delay, a linear
// rise to 1 over attack, 1 for hold, then a linear fall of 1 per decay
// time down to sustain (0 to 1). Hold and decay may follow the key
// (timecents per key below key 60).
struct ModEnvelopeSpec {
  double delay = 0.0;
  double attack = 0.0;
  double hold = 0.0;
  double decay = 0.0;  // 0: at once
  double sustain = 1.0;
  double holdTimecentsPerKey = 0.0;
  double decayTimecentsPerKey = 0.0;
  // The hold and the decay time as key plays them.
  double HeldFor(int key) const {
    return hold * std::exp2(holdTimecentsPerKey * (60 - key) / 1200.0);
  }
  double FallFor(int key) const {
    return decay * std::exp2(decayTimecentsPerKey * (60 - key) / 1200.0);
  }
  double Value(double t, int key) const {
    if (t < delay) return 0.0;
    t -= delay;
    if (t < attack) return t / attack;
    t -= attack;
    const double heldFor = HeldFor(key);
    if (t < heldFor) return 1.0;
    t -= heldFor;
    const double fall = FallFor(key);
    return fall > 0.0 ? std::max(sustain, 1.0 - t / fall) : sustain;
  }
  // By when it has reached its sustain level on key, whatever that level:
  // a whole decay time after the hold (seconds from the start).
  double End(int key) const { return delay + attack + HeldFor(key) + FallFor(key); }
};

struct ImportZone {
  // One or two sources: a mono zone plays audio[0]; a stereo one plays
  // audio[0] and audio[1] (which may be one stereo file read twice).
  std::array<std::shared_ptr<const SourceAudio>, 2> audio;
  int channel[2] = {0, 0};
  int sources = 1;
  // gain[out][source]: how much of each source goes to the left (0) and
  // right (1) output, attenuation and pan included.
  double gain[2][2] = {{1.0, 0.0}, {1.0, 0.0}};
  // Frames of the sources that play, and the loop within them (end not
  // included), both counted from the sources' first frame.
  int64_t start = 0;
  int64_t end = 0;
  int64_t loopStart = 0;
  int64_t loopEnd = 0;
  LoopMode loop = LoopMode::kNone;
  // A stereo pair whose sides were cut or looped apart: the second source's
  // own frames and loop (counted as above, in its own audio). The file loops
  // as the first side does; the second plays on through its own loop and
  // fades across into what precedes the file's loop before each repeat.
  struct Span {
    int64_t start = 0, end = 0, loopStart = 0, loopEnd = 0;
  };
  bool secondApart = false;
  Span second;
  int keyLo = 0;
  int keyHi = 127;
  int rootKey = 60;
  double centsPerKey = 100.0;
  double tuneCents = 0.0;  // added to every key
  EnvelopeSpec envelope;
  // A static low-pass filter (a SoundFont's initial filter): its cutoff in
  // Hz as heard (0: none) and its resonance in dB.
  double filterHz = 0.0;
  double filterQDb = 0.0;
  // A cutoff that follows the modulation envelope: filterCents (absolute
  // cents, 8.176 Hz at 0) plus filterEnvCents times the envelope's value,
  // within 1500 and 13500 cents and 0.45 of 44100 Hz. filterEnvCents 0: the
  // cutoff is filterHz throughout.
  double filterCents = 0.0;
  double filterEnvCents = 0.0;
  ModEnvelopeSpec modEnvelope;
  std::string name;
};

struct ImportInstrument {
  int id = 0;
  int channel = 0;  // 1..16: the instrument of every note on that MIDI channel
  std::string name;
  std::vector<ImportZone> zones;
  std::vector<std::string> dropped;         // zones left out, and why
  std::vector<std::string> approximations;  // what the files cannot say exactly
};

// FluidSynth's pan law (sine and cosine) for pan from -1 (left) to 1
// (right), scaled so that the middle is 1 on both sides.
inline double PanGain(double pan, bool left) {
  const double angle = (pan + 1.0) / 2.0 * (M_PI / 2.0);
  return (left ? std::cos(angle) : std::sin(angle)) * std::sqrt(2.0);
}
