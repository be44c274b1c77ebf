// The wave output on JACK, as a client of our own: "Pelvane" with the ports
// "outport 0" and "outport 1", connected to the first two inputs of the
// chosen client. Not through RtAudio: its JACK stream stops for good when the
// server changes its period (and formats an error text on the process thread
// each time), and when the server goes away it closes the stream from a
// thread of its own, racing our close, and says so only on standard error.
// Here the process callback takes any period (a change of period is told to
// the device before the first callback of the new size, so that it can copy
// frames ahead in time), and a server that goes away is told through the
// device.
#pragma once
#include <jack/jack.h>
#include <jack/thread.h>

#include <memory>
#include <string>

#include "platform/linux/JackClient.h"
#include "platform/linux/audio/WaveDevice.h"

namespace platform {

class JackOutput : public DeviceOutput {
 public:
  // Opens the client on the running server and registers its ports; nothing
  // plays yet. Null with the reason when there is no server.
  static std::unique_ptr<JackOutput> Open(WaveDevice& device, const char* clientName,
                                          std::string* error);
  ~JackOutput() override;

  // 0 once the server has gone.
  unsigned Rate() const;
  // The SCHED_FIFO priority of JACK's client threads, 0 when the server
  // does not run real-time (or has gone).
  int ClientPriority() const;
  // Starts processing and connects to target's first two input ports.
  bool Start(const std::string& target, std::string* error);
  void Shutdown() override;

 private:
  explicit JackOutput(WaveDevice& device) : device_(device) {}
  static int Process(jack_nframes_t frames, void* self);
  static void OnBufferSize(jack_nframes_t frames, void* self);
  static void OnShutdown(void* self, const char* reason);

  WaveDevice& device_;
  std::unique_ptr<JackClient> client_;
  jack_port_t* ports_[2] = {};
};

}  // namespace platform
