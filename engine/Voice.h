// One sounding note: plays one sample of one instrument from its first frame,
// at the speed the note's distance from the sample's base note gives, scaled
// by an integer gain; once, or repeating the sample's loop; fades out over the
// sample's release frames (2048 unless it has its own) after release.
// Thread: any, holding Mixer::Lock, for every member (Render on the mixer's,
// real-time; the transitions on midi-in's).
#pragma once
#include <cstdint>

#include "engine/Instrument.h"
#include "engine/OffsetTable.h"

constexpr int32_t OUTPUT_RATE = 44100;

enum : int32_t {
  VOICE_PLAYING = 0,
  VOICE_SUSTAINED = 1,
  VOICE_RELEASING = 2,
  VOICE_FINISHED = 3,
};

// Frames of the release countdown a voice of a sample without a release time
// of its own starts with when it is released.
constexpr int32_t VOICE_RELEASE_FRAMES = SAMPLE_RELEASE_FRAMES;

class Voice {
 public:
  Voice(int32_t note, int32_t channel, int32_t velocity, int32_t volume, Instrument* instrument);

  // Adds up to frameCount frames of this voice into buffer (interleaved
  // stereo, left first), saturating every addition. The caller holds
  // Mixer::Lock and looks at state afterwards. The sample must not be null.
  // A sample with exact pitch keeps the fraction of a frame each call leaves;
  // a shaped one (with exact pitch) plays calls of at most 1024 frames, at a
  // scale taken anew every SAMPLE_SHAPE_PIECE frames of the call.
  void Render(int16_t* buffer, int32_t frameCount) noexcept;

  // True while the voice folds its positions into its sample's loop: the
  // sample loops, and a sustain loop has not been left by a release.
  bool InLoop() const {
    return sample->Loops() &&
           !(sample->loopMode == SAMPLE_LOOP_SUSTAIN && state == VOICE_RELEASING);
  }
  // The voice's state machine. VOICE_PLAYING becomes VOICE_SUSTAINED (held
  // by the pedal) or VOICE_RELEASING (fading out) here; Render ends it,
  // VOICE_FINISHED, at the end of its sample or of its release. Every one is
  // called under Mixer::Lock.

  // Enters VOICE_RELEASING with the release countdown of its sample.
  void Release() {
    state = VOICE_RELEASING;
    releaseCounter = sample->releaseFrames;
  }
  // A note-off for this voice: held while the channel's pedal is down,
  // released otherwise.
  void NoteOff(bool pedalDown) {
    if (pedalDown)
      state = VOICE_SUSTAINED;
    else
      Release();
  }
  // The end of sustain, the channel's pedal coming up: a voice it held is
  // released.
  void PedalUp() {
    if (state == VOICE_SUSTAINED) Release();
  }
  // All Notes Off: a playing looped voice takes the note-off; a voice that
  // plays its sample once ends by itself and is left alone.
  void AllNotesOff(bool pedalDown) {
    if (state == VOICE_PLAYING && sample->Loops()) NoteOff(pedalDown);
  }
  // All Sound Off: a looped voice ends at once. Velocity 0 as well: a
  // finished voice is rendered once more before the refill removes it (or,
  // started just now, into the buffers ahead), and with no gain it adds
  // nothing.
  void AllSoundOff() {
    if (!sample->Loops()) return;
    velocity = 0;
    state = VOICE_FINISHED;
  }

  // Asks the processor to start loading what the next Render reads first
  // (this voice's offsets and its sample at the position), so that a caller
  // rendering many voices can overlap one voice's memory traffic with the
  // previous voice's mixing. Changes nothing.
  void Prefetch() const noexcept;

  int32_t note;
  int32_t channel;
  int32_t velocity;
  int32_t volume;
  int32_t state = VOICE_PLAYING;
  int32_t position = 0;
  int32_t releaseCounter = 0;
  Instrument* instrument;
  Sample* sample;
  // Only for samples that ask for them (Sample::exactPitch, Sample::Shaped):
  // the fraction of a frame the calls so far have left (0 <= fraction < 1),
  // the output frames rendered, and the envelope's level (2^30 full).
  double fraction = 0.0;
  int64_t elapsed = 0;
  int64_t envelope = 0;

 private:
  // How a call scales its frames: by the gain (gain / 256), or, for a shaped
  // voice, by a scale for each piece of SAMPLE_SHAPE_PIECE frames (scale /
  // 65536), value then the largest of them.
  struct Mix {
    int32_t value;
    const int32_t* scales;
    // Frames first .. count - 1 of the call by the offset table.
    void Table(int16_t* buffer, const Sample& s, int32_t start, const OffsetTable& table,
               int32_t first, int32_t count) const noexcept;
    // Frames frame .. frame + count - 1 of the call at the positions at.
    void Positions(int16_t* buffer, const Sample& s, const int32_t* at, int32_t frame,
                   int32_t count) const noexcept;
  };
  // The offset table serves a 1024-frame call, and every call of a shaped
  // voice (they start from offset 0 too).
  static bool ByTable(int32_t frameCount, const Mix& mix) {
    return frameCount == OffsetTable::kFrames || (mix.scales && frameCount < OffsetTable::kFrames);
  }
  // One call as described at Render, at mix's scale and the voice's speed
  // (frames of its sample a second).
  void RenderCall(int16_t* buffer, int32_t frameCount, const Mix& mix, double speed) noexcept;
  // Keeps the fraction of a frame a call of frameCount frames left over:
  // when the fractions add up to a whole frame, the position moves one on.
  void CarryFraction(int32_t frameCount, double speed) noexcept;
  // The plain loop, for the rare call whose positions would pass INT32_MAX.
  void RenderFrameByFrame(int16_t* buffer, int32_t frameCount, double speed, const Mix& mix,
                          bool looping) noexcept;
  // Mixes frames 0 .. count - 1 (count <= the call's frames) at the
  // loop-folded positions start + T(k), from the offset table when byTable;
  // the offsets must fit 32 bits.
  void MixLooped(int16_t* buffer, int32_t start, int32_t count, bool byTable, double speed,
                 const Mix& mix) noexcept;

  // The offsets of this voice's speed, made at its first 1024-frame call: a
  // voice's note and sample, and so its speed, stay as they are, and every
  // refill renders 1024 frames from offset 0.
  OffsetTable offsets_;
};
