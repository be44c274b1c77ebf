// Replays messages through the synthesizer's own code into a WAV file,
// offline. A Synthesizer is built against a RenderWaveOut device and a MIDI
// backend without devices (so no echo, no input, no dump file); then, for
// device buffer period k (frames 1024k to 1024k + 1023), every message whose
// frame falls in it is handled with the device position at that frame, and
// buffer k mod 4 plays: its frames go to the file and the Mixer refills it.
// The same messages therefore meet the same mix-ahead and the same refill
// order as they would have live, and the file is the same on every run. All
// of it runs on the calling thread, the Mixer's device handling included.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/FrameSink.h"
#include "tools/MidiEvent.h"
#include "tools/WavWriter.h"

struct RenderStats {
  uint64_t frames = 0;            // frames written
  uint64_t lastMessageFrame = 0;  // or the end time's frame, when later
  int32_t peakVoices = 0;         // the most voices registered at once
  uint64_t clippedFrames = 0;     // frames with a sample at full scale
  bool tailCut = false;           // the tail cap ended the output
  int32_t voicesAtEnd = 0;        // voices still registered when it did
};

class Renderer {
 public:
  // The device frame of a time: 44.1 frames per millisecond, rounded down;
  // saturates instead of wrapping.
  static uint64_t FrameOf(uint64_t timeUs);
  // The default cap on the tail after the last message: ten minutes.
  static constexpr uint64_t kDefaultTailMs = 600000;

  // events in the order they are to be handled; trim makes the first one
  // frame 0 (without events, the end time). endTimeUs (0: none) is when the
  // input itself ends, a MIDI file's last End of Track: the render runs at
  // least to it, so an input that ends in silence keeps that silence.
  // tailMs caps the output at that many milliseconds after the later of the
  // last message's frame and the end time's.
  Renderer(const std::vector<MidiEvent>& events, bool trim, uint64_t tailMs,
           uint64_t endTimeUs = 0);

  // progress (may be empty) is called once per buffer with the frames
  // written and the last message's frame.
  void SetProgress(std::function<void(uint64_t done, uint64_t expected)> progress) {
    progress_ = std::move(progress);
  }

  // False with *error set when the messages last longer than a WAV file can
  // hold; Run refuses them too, but this needs no engine.
  bool Fits(std::string* error) const;

  // Call InitEngine first. Writes the frames to out (Finish is the caller's);
  // false with *error set when the render cannot run or a write fails.
  bool Run(FrameSink* out, RenderStats* stats, std::string* error);

 private:
  bool Drive(class Synthesizer* synth, class RenderWaveOut* device, FrameSink* out,
             RenderStats* stats, std::string* error);

  std::vector<uint64_t> frames_;  // each message's frame, never decreasing
  // The later of the last message's frame and the end time's.
  uint64_t lastFrame_ = 0;
  // False when there are neither messages nor an end time: an empty file.
  bool anything_ = false;
  const std::vector<MidiEvent>& events_;
  uint64_t tailFrames_;
  std::function<void(uint64_t, uint64_t)> progress_;
};
