// A JACK MIDI input port of our own, connected to one source port.
//
// JACK calls the process callback on the server's real-time thread, where a
// wait of any kind becomes an audible dropout for every client of the graph.
// So the callback only copies each whole short message, with the time it was
// taken, into a fixed single-producer ring and posts a semaphore; a relay
// thread of normal priority takes the messages out in order and hands them
// on. Nothing there allocates, frees, locks or blocks. A full ring drops the
// newest messages; the relay thread counts them and says so in one notice
// line once the ring has drained.
#pragma once
#include <jack/jack.h>
#include <semaphore.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Ring.h"
#include "platform/linux/JackClient.h"

namespace platform {

class JackMidiIn {
 public:
  // On the relay thread, one message at a time, in the order they came:
  // the message word and the milliseconds since the last Start.
  using Deliver = void (*)(void* context, uint32_t word, uint32_t milliseconds);

  // Messages the ring holds: several seconds of the densest MIDI a cable or
  // a sequencer sends, however late the relay thread gets to run.
  static constexpr uint32_t kQueueCapacity = 8192;

  enum class OpenResult { kOk, kNoServer, kNoSuchPort, kFailed };

  JackMidiIn(Deliver deliver, void* context);
  ~JackMidiIn();  // closes
  JackMidiIn(const JackMidiIn&) = delete;
  JackMidiIn& operator=(const JackMidiIn&) = delete;

  // Opens a client of this name (JACK makes a taken name unique), registers
  // the port "MIDI In" and connects the source port (its full name) to it.
  OpenResult Open(const char* clientName, const std::string& source);
  // Why the last Open failed, in words ("JACK: no server is running").
  const std::string& Failure() const { return failure_; }
  // Messages that come from now on are delivered, stamped from now.
  void Start();
  // Messages that come from now on are dropped. Returns once every message
  // taken before has been delivered.
  void Reset();
  // Closes the port and the client, delivers what is still queued and ends
  // the relay thread: nothing is delivered after it returns. A server that
  // went away is told once, by the relay thread.
  void Close();

 private:
  struct Event {
    uint32_t word;
    uint64_t timeUs;  // JACK's clock when the message was taken
  };

  static int Process(jack_nframes_t frames, void* self);
  static void OnLost(void* self, const char* reason);
  void Take(jack_nframes_t frames);
  void Relay();
  void Drain();

  const Deliver deliver_;
  void* const context_;
  std::unique_ptr<JackClient> client_;
  jack_port_t* port_ = nullptr;
  std::string failure_;

  Ring<Event> ring_{kQueueCapacity};
  std::atomic<uint64_t> taken_{0};   // messages put into the ring (process callback)
  uint64_t relayed_ = 0;             // messages taken out of it (relay thread)
  std::atomic<uint64_t> lost_{0};    // messages that found the ring full
  std::atomic<uint64_t> broken_{0};  // events that were not one whole short message

  // The callback takes messages only while `started`; `busy` says it is
  // inside. Both sequentially consistent: a thread that clears `started` and
  // then sees `busy` false knows that no message will be taken any more.
  std::atomic<bool> started_{false};
  std::atomic<bool> busy_{false};
  std::atomic<uint64_t> startUs_{0};

  sem_t wake_;
  std::atomic<bool> quit_{false};
  std::thread relay_;
  uint64_t reportedLost_ = 0;    // relay thread only
  uint64_t reportedBroken_ = 0;  // relay thread only
  std::atomic<bool> serverGone_{false};
  char goneReason_[200] = {};  // written before serverGone_
  bool goneTold_ = false;      // relay thread only

  std::mutex drainMutex_;
  std::condition_variable drained_;
  uint64_t delivered_ = 0;   // messages handed on, under drainMutex_
  bool relayEnded_ = false;  // under drainMutex_
};

}  // namespace platform
