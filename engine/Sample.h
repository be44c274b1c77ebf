// One stereo recording of signed 16-bit frames, with the rate it was recorded
// at and the MIDI note on which it plays at that rate. A mono recording plays
// the same frames on both sides from one array (left == right).
#pragma once
#include <cstdint>

#include "engine/SampleFrames.h"

// How a sample's loop plays (Sample::loopMode).
enum : int32_t {
  SAMPLE_LOOP_NONE = 0,
  // Repeats for as long as the voice sounds, through its release fade.
  SAMPLE_LOOP_CONTINUOUS = 1,
  // Repeats until the voice is released, then plays on to the sample's end.
  SAMPLE_LOOP_SUSTAIN = 2,
};

// The release fade of a sample without a release time of its own.
constexpr int32_t SAMPLE_RELEASE_FRAMES = 2048;

// Levels of a shaped sample: amplitudes with 2^30 as full. A decay that
// falls below 2^-10 of full (-60.2 dB), to a sustain below that, has fallen
// silent: its voice ends there, as a sound written out until 60 dB down does.
constexpr int64_t SAMPLE_FULL_LEVEL = int64_t{1} << 30;
constexpr int64_t SAMPLE_SILENT_LEVEL = int64_t{1} << 20;
// A shaped sample's voice takes its envelope's level anew every this many
// output frames.
constexpr int32_t SAMPLE_SHAPE_PIECE = 64;

class Sample {
 public:
  Sample() = default;
  ~Sample();
  Sample(const Sample&) = delete;
  Sample& operator=(const Sample&) = delete;

  // Frees the old arrays, then allocates two separate ones of frameCount
  // values each (contents not initialised). A negative count leaves the sample empty.
  void Allocate(int32_t frameCount);
  void Free();
  // Frees the old arrays, then plays these frames (shared with their other
  // holders; empty frames leave the sample empty).
  void SetFrames(const SampleFrames& newFrames);
  const SampleFrames& Frames() const { return frames_; }
  // True when a voice of this sample folds its positions into the loop: a
  // loop mode is set and frames loopStart..loopEnd lie inside the sample.
  bool Loops() const {
    return loopMode != SAMPLE_LOOP_NONE && loopStart >= 0 && loopStart <= loopEnd &&
           loopEnd < length;
  }

  int32_t rate = 44100;
  int32_t baseNote = 64;
  int32_t length = 0;
  // Into the frames' block; read-only once the block is shared. Equal for
  // frames of one channel, so writing one side writes the other.
  int16_t* left = nullptr;
  int16_t* right = nullptr;
  // Frames loopStart to loopEnd, both included, repeat while a voice sounds.
  int32_t loopMode = SAMPLE_LOOP_NONE;
  int32_t loopStart = 0;
  int32_t loopEnd = 0;
  // The frames of a released voice's fade (at least 16).
  int32_t releaseFrames = SAMPLE_RELEASE_FRAMES;
  // The first loop of the WAV file's smpl chunk, as the loader found it (its
  // frames, both included); -1 and -1 when the file has none. Played only
  // when an instrument set asks for it.
  int32_t fileLoopStart = -1;
  int32_t fileLoopEnd = -1;

  // Asked for by an instrument set only; a sample without them plays as
  // every sample always has. exactPitch: a voice keeps the fraction of a frame
  // each buffer leaves, so it plays in tune however far below its rate.
  bool exactPitch = false;
  // Shaping: a voice plays at level (at most full); decayStart output frames
  // after it starts (none when negative), the level is multiplied by
  // decayFactor / 2^30 every piece, down to sustainLevel, while the note
  // sounds. A voice whose level has fallen below SAMPLE_SILENT_LEVEL with a
  // sustain below that ends.
  int64_t level = SAMPLE_FULL_LEVEL;
  int64_t decayStart = -1;
  int64_t decayFactor = SAMPLE_FULL_LEVEL;
  int64_t sustainLevel = 0;
  bool Shaped() const { return level != SAMPLE_FULL_LEVEL || decayStart >= 0; }

 private:
  SampleFrames frames_;
};
