// A PulseAudio or ALSA device through an RtAudio stream. RtAudio runs the
// callback on a thread of its own that writes each period to the server or
// card with a blocking write, under a mutex of RtAudio's that only starting
// and stopping the stream also take.
#pragma once
#include <rtaudio/RtAudio.h>

#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/audio/WaveDevice.h"
#include "platform/linux/watch/DeviceLists.h"

namespace platform {

// RtAudio 5's PulseAudio backend keeps what a device listing collects in
// one global record, and every getDeviceCount, from a listing or from an
// openStream, refills it: two RtAudio objects at work on two threads (the
// watch's listing and the Mixer's open) corrupt it. So every RtAudio object
// is made, used and destroyed under this lock; only the streams' own
// callbacks run outside it.
std::mutex& RtAudioMutex();

class RtAudioOutput : public DeviceOutput {
 public:
  static constexpr unsigned kChannels = 2;

  static std::unique_ptr<RtAudioOutput> Open(const AudioEndpoint& endpoint, unsigned rate,
                                             WaveDevice& device, std::string* error);
  ~RtAudioOutput() override;

  bool Start(std::string* error);
  void Shutdown() override;

 private:
  RtAudioOutput(WaveDevice& device, bool asFloat) : device_(device), float_(asFloat) {}

  static int Callback(void* out, void*, unsigned frames, double, RtAudioStreamStatus, void* self);
  static void ErrorCallback(RtAudioError::Type, const std::string& text);

  static thread_local RtAudioOutput* t_current;

  WaveDevice& device_;
  bool float_;
  std::unique_ptr<RtAudio> audio_;
};

}  // namespace platform
