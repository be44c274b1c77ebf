// One open wave output on Linux, whatever carries its sound (a JACK client of
// our own, or an RtAudio stream on PulseAudio or ALSA).
//
// waveOut hands the device whole buffers and gets each one back when it has
// been played; the sound servers instead ask for a number of frames per
// callback, of their own choosing. So the audio callback takes frames from
// the queued buffers strictly in order, crossing buffer boundaries inside one
// callback when it must, and plays silence when nothing is queued. When the
// device runs at another rate than 44100 the frames pass through a
// RateConverter; the play position stays a count of the buffers' own frames.
//
// The callback never blocks, allocates or logs: the queue is a fixed ring of
// header pointers with three counters (written by Write, played by the
// callback, returned by the relay thread), and a semaphore wakes the relay
// thread, which marks finished buffers done and posts one kMessageWaveOutDone
// per buffer, in order. The relay thread also tells of a sound server that
// went away, and raises its own and the audio thread's priority.
#pragma once
#include <semaphore.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/Lock.h"
#include "platform/WaveOut.h"
#include "platform/linux/RateConverter.h"

namespace platform {

// What carries the sound to the server.
class DeviceOutput {
 public:
  virtual ~DeviceOutput() = default;
  // Ends the stream: once it returns no callback runs any more.
  virtual void Shutdown() = 0;
};

class WaveDevice {
 public:
  static constexpr unsigned kRate = 44100;

  // server names the sound system in the line told when it goes away ("the
  // JACK server").
  WaveDevice(WindowHandle window, const char* server);
  // Ends the output and the relay thread.
  ~WaveDevice();
  WaveDevice(const WaveDevice&) = delete;
  WaveDevice& operator=(const WaveDevice&) = delete;

  // Before the output starts. A device rate other than 44100 sets up the
  // conversion; false with the reason on failure.
  bool SetDeviceRate(unsigned rate, std::string* error);
  unsigned DeviceRate() const { return rate_; }
  bool Converting() const { return converter_.Ready(); }
  // Starts the relay thread. raiseAudioThread: the thread of the callback
  // belongs to us to raise (not JACK's, which its server schedules).
  bool StartRelay(bool raiseAudioThread);
  void SetOutput(std::unique_ptr<DeviceOutput> output) { output_ = std::move(output); }

  // The owner's thread (the one that writes, resets and closes).
  uint32_t Write(WaveHeader* header);
  uint32_t Position() const {
    return static_cast<uint32_t>(position_.load(std::memory_order_acquire));
  }
  bool AllReturned() const { return written_.load() == returned_.load(); }
  // Returns every queued buffer at once; the device plays on from silence.
  void Reset();
  // Shuts the callback out of the queue for good and waits for a running
  // call to leave.
  void ShutOutCallback();
  WindowHandle Window() const { return window_; }

  // Audio thread: frames of output, 44100 Hz 16-bit interleaved stereo.
  void RenderInt16(int16_t* out, unsigned frames);
  // Audio thread: frames of output at the device's rate, full scale 1.0;
  // frame i of the left channel at left[i * stride], of the right at right[i * stride].
  void RenderFloat(float* left, float* right, size_t stride, unsigned frames);

  // Any thread, also a signal-handler-like context (JACK's shutdown
  // callback): the sound server has gone; the relay thread tells it once.
  void Lost(const char* reason);
  bool IsLost() const { return lost_.load(); }

 private:
  // Audio thread: count frames from the queued buffers (silence past them).
  void Pull(int16_t* out, unsigned count);
  static void PullInto(void* self, int16_t* frames, unsigned count);
  bool Enter();
  void Leave();
  void NoteAudioThread();
  void ReturnFinished();
  void RelayMain(bool raiseAudioThread);

  static constexpr uint64_t kRingSize = 256;  // more than any caller queues
  static constexpr unsigned kScratchFrames = 1024;

  WindowHandle window_;
  const char* server_;
  std::unique_ptr<DeviceOutput> output_;
  unsigned rate_ = kRate;
  RateConverter converter_;

  WaveHeader* ring_[kRingSize] = {};
  std::atomic<uint64_t> written_{0};   // Write
  std::atomic<uint64_t> played_{0};    // the callback (Reset while it is shut out)
  std::atomic<uint64_t> returned_{0};  // the relay (Reset while the relay is held off)
  uint32_t offset_ = 0;                // frames of ring_[played_] already played
  std::atomic<uint64_t> position_{0};  // buffer frames played since open or reset
  bool finished_ = false;              // audio thread: a buffer ended in this callback

  // The callback touches the queue only while stopped_ is false; busy_ tells
  // that it is inside. Both sequentially consistent, so a thread that sets
  // stopped_ and then sees busy_ false knows the callback stays out.
  std::atomic<bool> stopped_{false};
  std::atomic<bool> busy_{false};

  std::atomic<bool> lostClaimed_{false};
  std::atomic<bool> lost_{false};
  char lostReason_[200] = {};
  bool raiseAudioThread_ = false;
  std::atomic<pid_t> audioThread_{0};

  int16_t scratch16_[kScratchFrames * 2] = {};
  float scratch_[kScratchFrames * 2] = {};

  sem_t wake_;
  std::atomic<bool> quit_{false};
  // Held while buffers are returned: by the relay, or by Reset, which
  // returns them itself. Both run at real-time priority, so the lock
  // inherits priority (a plain mutex could leave one waiting behind a
  // preempted holder).
  Lock relayLock_;
  std::thread relay_;
};

}  // namespace platform
