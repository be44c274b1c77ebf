// The systems that tell us when Linux sound and MIDI devices come and go, for
// the device watch (platform/linux/watch/DeviceWatch.cpp). Each one is used by the
// watch's thread only (and by the thread that starts the watch, before the
// watch's thread runs), except where libjack calls back on a thread of its
// own: those callbacks do nothing but call `wake`.
//
// A source does not decide whether something changed: it describes the state
// it watches (the other programs' ports, a count of sink or card events), and
// the watch compares descriptions. So our own short-lived clients (a device
// listing without the watch opens some) and our own ports never count, and a
// client that comes and goes within one burst changes nothing. The JACK
// source's client is also the one the listings read the graph through.
// Each source is a class of its own, in the file of its name (JackSource.cpp,
// SequencerSource.cpp, PulseSource.cpp, SoundCardSource.cpp); our own clients
// are told apart by IsOwnClient (platform/linux/SoundServers.h).
#pragma once
#include <poll.h>

#include <memory>
#include <string>
#include <vector>

namespace platform {

class DeviceSource {
 public:
  using Wake = void (*)(void* context);
  virtual ~DeviceSource() = default;

  // Connects when not connected (a server that was not running may be now).
  // Returns promptly; true when connected.
  virtual bool Connect() = 0;
  // A descriptor to poll for reading, or -1.
  virtual int Descriptor() const { return -1; }
  // Called when the descriptor is readable: takes what is waiting.
  virtual void Read() {}
  // A source that runs an event loop of its own polls the others'
  // descriptors inside it, up to timeoutMs (negative: no limit), and then
  // dispatches its own events; *ready is the number of those descriptors
  // with events. False when it has no loop (the watch then polls itself).
  virtual bool PollWith(std::vector<pollfd>* /*others*/, int /*timeoutMs*/, int* /*ready*/) {
    return false;
  }
  // True once after something changed that only the source's own loop saw.
  virtual bool TakeChange() { return false; }
  // Appends one line per thing watched.
  virtual void Describe(std::string* state) = 0;
};

// JACK clients and ports (registration callbacks), while a server runs.
std::unique_ptr<DeviceSource> MakeJackSource(DeviceSource::Wake wake, void* context);
// ALSA sequencer clients and ports (the system announce port), where
// /dev/snd/seq exists.
std::unique_ptr<DeviceSource> MakeSequencerSource();
// PulseAudio sinks (a subscription), only while a server is listening: no
// daemon is ever started for it.
std::unique_ptr<DeviceSource> MakePulseSource();
// ALSA sound cards (udev).
std::unique_ptr<DeviceSource> MakeSoundCardSource();

// For tests: the sources of every watch made afterwards (nullptr: the four
// above). Called before any watch is made or while none exists.
using DeviceSourceMaker = std::vector<std::unique_ptr<DeviceSource>> (*)(DeviceSource::Wake wake,
                                                                         void* context);
void SetDeviceSourceMaker(DeviceSourceMaker maker);

}  // namespace platform
