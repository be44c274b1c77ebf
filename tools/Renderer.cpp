#include "tools/Renderer.h"

#include <limits>
#include <memory>
#include <new>

#include "platform/Midi.h"
#include "platform/NullDevices.h"
#include "platform/WaveOut.h"
#include "platform/Window.h"
#include "synth/Synthesizer.h"
#include "tools/RenderWaveOut.h"

namespace {

constexpr uint64_t kBufferFrames = RenderWaveOut::kFramesPerBuffer;

bool AtFullScale(int16_t value) { return value == 32767 || value == -32768; }

// Hands the mixer the device's messages until it has written `writes`
// buffers in all. The messages were posted on this thread before, so they are
// normally all there at once; a message loop that makes them visible a little
// later (seen under Wine on a loaded machine) is waited for, within a bound.
bool DispatchUntil(Mixer* mixer, RenderWaveOut* device, uint64_t writes) {
  constexpr unsigned kWaitMs = 100;
  constexpr int kWaits = 100;
  mixer->DispatchQueued();
  for (int wait = 0; device->WriteCount() < writes && wait < kWaits; ++wait) {
    platform::WaitForQueuedMessage(kWaitMs);
    mixer->DispatchQueued();
  }
  return device->WriteCount() == writes;
}

}  // namespace

uint64_t Renderer::FrameOf(uint64_t timeUs) {
  if (timeUs > std::numeric_limits<uint64_t>::max() / 441)
    return std::numeric_limits<uint64_t>::max() / 10000;
  return timeUs * 441 / 10000;
}

Renderer::Renderer(const std::vector<MidiEvent>& events, bool trim, uint64_t tailMs,
                   uint64_t endTimeUs)
    : events_(events),
      tailFrames_(FrameOf(tailMs > UINT64_MAX / 1000 ? UINT64_MAX : tailMs * 1000)) {
  anything_ = !events.empty() || endTimeUs > 0;
  uint64_t origin = 0;
  if (trim) origin = events.empty() ? endTimeUs : events.front().timeUs;
  frames_.reserve(events.size());
  uint64_t previous = 0;
  for (const MidiEvent& event : events) {
    // Messages are handled in input order: one stamped earlier than its
    // predecessor (a dump's clock running backwards, or before the first
    // message with --trim) is handled at its predecessor's frame, as a live
    // input would have delivered it late.
    uint64_t frame = event.timeUs > origin ? FrameOf(event.timeUs - origin) : 0;
    if (frame < previous) frame = previous;
    frames_.push_back(frame);
    previous = frame;
  }
  const uint64_t endFrame = endTimeUs > origin ? FrameOf(endTimeUs - origin) : 0;
  lastFrame_ = endFrame > previous ? endFrame : previous;
}

bool Renderer::Fits(std::string* error) const {
  if (anything_ && lastFrame_ >= WavWriter::kMaxFrames) {
    *error = "the input lasts longer than a WAV file can hold (6 h 45 min at 44100 frames/s)";
    return false;
  }
  return true;
}

bool Renderer::Run(FrameSink* out, RenderStats* stats, std::string* error) {
  *stats = RenderStats();
  if (!Fits(error)) return false;
  if (!anything_) return true;  // nothing happens: an empty file
  stats->lastMessageFrame = lastFrame_;

  RenderWaveOut device;
  // No MIDI devices: the input thread runs idle.
  platform::NullMidiApi midi;
  platform::InstallWaveOutApi(&device);
  platform::InstallMidiApi(&midi);
  // Wave device 0 is the render device; no MIDI input, no echo, no dump file.
  // The mixer handles the device on this thread: the render is one thread,
  // and a returned buffer costs a dispatch instead of a hand-over between
  // threads.
  std::unique_ptr<Synthesizer> synth(new (std::nothrow) Synthesizer(0, MixerThread::kCaller));
  bool ok = false;
  if (!synth || !synth->GetMixer())
    *error = "not enough memory for the synthesizer";
  else
    ok = Drive(synth.get(), &device, out, stats, error);
  synth.reset();
  platform::InstallMidiApi(nullptr);
  platform::InstallWaveOutApi(nullptr);
  return ok;
}

bool Renderer::Drive(Synthesizer* synth, RenderWaveOut* device, FrameSink* out, RenderStats* stats,
                     std::string* error) {
  Mixer* mixer = synth->GetMixer();
  // The device has announced itself: four buffers go out.
  if (!DispatchUntil(mixer, device, MIXER_BUFFER_COUNT)) {
    *error = "the mixer did not queue its buffers";
    return false;
  }
  const uint64_t lastFrame = lastFrame_;
  const uint64_t cap = tailFrames_ > WavWriter::kMaxFrames - lastFrame ? WavWriter::kMaxFrames
                                                                       : lastFrame + tailFrames_;
  // Period after which the output ends by itself: set once every message is
  // handled and a refill leaves no voice; the buffers queued by then still
  // hold their last sound, the newest of them through that period.
  const uint64_t kNotYet = std::numeric_limits<uint64_t>::max();
  uint64_t lastPeriod = kNotYet;
  int16_t buffer[2 * kBufferFrames];
  size_t next = 0;
  for (uint64_t period = 0;; ++period) {
    const uint64_t periodEnd = (period + 1) * kBufferFrames;
    while (next < frames_.size() && frames_[next] < periodEnd) {
      device->SetPosition(static_cast<uint32_t>(frames_[next]));
      synth->HandleMidiMessage(events_[next].message, events_[next].timeStamp);
      int32_t voices = mixer->CountVoices();
      if (voices > stats->peakVoices) stats->peakVoices = voices;
      next += 1;
    }
    const uint64_t writes = device->WriteCount();
    bool requeued = device->ReturnNextBuffer(buffer);
    if (requeued) requeued = DispatchUntil(mixer, device, writes + 1);
    if (!requeued) {
      *error = "the mixer did not requeue a buffer";
      return false;
    }
    const int32_t voices = mixer->CountVoices();
    if (voices > stats->peakVoices) stats->peakVoices = voices;

    const uint64_t start = period * kBufferFrames;
    const uint64_t count = cap - start < kBufferFrames ? cap - start : kBufferFrames;
    // Without a branch per frame: the compiler makes it a vector loop.
    uint64_t clipped = 0;
    for (uint64_t i = 0; i < count; ++i)
      clipped += static_cast<uint64_t>(AtFullScale(buffer[2 * i])) |
                 static_cast<uint64_t>(AtFullScale(buffer[2 * i + 1]));
    stats->clippedFrames += clipped;
    if (!out->Write(buffer, static_cast<uint32_t>(count))) {
      *error = out->Error();
      return false;
    }
    stats->frames = start + count;
    if (progress_) progress_(stats->frames, lastFrame);

    // The end time counts as reached in the period that holds its frame, as
    // a message there would be handled.
    if (lastPeriod == kNotYet && next == frames_.size() && lastFrame < periodEnd && voices == 0)
      lastPeriod = period + MIXER_BUFFER_COUNT;
    if (period == lastPeriod) return true;
    if (stats->frames == cap) {
      stats->tailCut = true;
      stats->voicesAtEnd = voices;
      return true;
    }
  }
}
