// One open wave output on Linux, whatever carries its sound (a JACK client of
// our own, or an RtAudio stream on PulseAudio or ALSA).
//
// waveOut hands the device whole buffers and gets each one back when it has
// been played; the sound servers instead ask for a number of frames per
// callback, of their own choosing. The buffers' frames are played strictly in
// order, crossing buffer boundaries inside one callback when they must, and
// silence when nothing is queued. When the device runs at another rate than
// 44100 the frames pass through a RateConverter; the play position stays a
// count of the buffers' own frames taken from the queue.
//
// Small callbacks (up to kDirectFrames buffer frames each) copy straight
// from the queued buffers, as a sound card would play them: a buffer goes
// back once its last frame is played, and the mixer's four buffers are the
// whole latency. A larger callback needs more frames at once than the four
// buffers hold while one of them is still half played, so then the relay
// thread copies frames ahead into a ring of the device's own, just enough for
// the next callback and a margin, and hands each buffer back as soon as it is
// copied: the mixer refills it while the callback plays from the ring. The
// position counts copied frames either way, so a voice the mixer mixes into a
// queued buffer is heard from that buffer. Only one side takes from the
// queue at a time (copier_), and the side that lets go hands over its place
// in the half-copied buffer with it.
//
// The callback never blocks, allocates or logs: the queue and the frames
// ahead are fixed rings, and a semaphore wakes the relay thread, which marks
// finished buffers done and posts one kMessageWaveOutDone per buffer, in
// order. The relay thread also tells of a sound server that went away, and
// raises its own and the audio thread's priority.
#pragma once
#include <semaphore.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/Lock.h"
#include "platform/Ring.h"
#include "platform/WaveOut.h"
#include "platform/linux/audio/RateConverter.h"

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
  // Callbacks that take at most this many buffer frames play straight from
  // the queue; larger ones from the frames copied ahead.
  static constexpr uint32_t kDirectFrames = 2048;
  // Copied ahead beyond what one callback takes: room for a late refill.
  static constexpr uint32_t kAheadMargin = 2048;
  // The most frames held ahead: a callback of 8192 frames at 8000 Hz takes
  // 45,158 buffer frames.
  static constexpr uint32_t kAheadCapacity = 65536;

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

  // Thread: any but the audio thread, while no callback runs (JACK's
  // buffer-size callback). The callbacks from now on take `frames` device
  // frames each: when they need frames ahead, the relay takes over and this
  // waits, within a bound, until it holds enough for the first of them.
  void PreparePeriod(unsigned frames);

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
  // Who takes frames from the queue.
  enum Copier : int {
    kCallbackCopies,  // the audio callback, straight into its output
    kRelayCopies,     // the relay thread, into the frames ahead
    kRelayHandsBack,  // the callback asked for the queue back; the relay has stopped
  };
  static constexpr uint32_t kQueueSize = 256;  // more buffers than any caller queues
  static constexpr uint32_t kChunkFrames = 64;
  static constexpr unsigned kScratchFrames = 1024;

  // A piece of the frames copied ahead (fewer than kChunkFrames where a
  // buffer ended).
  struct Chunk {
    uint32_t frames = 0;
    int16_t data[kChunkFrames * 2] = {};
  };

  // Buffer frames a callback of `frames` device frames may take.
  uint32_t Need(unsigned frames) const;
  // The copier: up to count frames from the queue; buffers copied to their
  // end go to played_ (and set *finished).
  uint32_t TakeQueued(int16_t* out, uint32_t count, bool* finished);
  // Audio thread: up to count frames from those copied ahead.
  uint32_t TakeAhead(int16_t* out, uint32_t count);
  // Audio thread: count frames (silence past what there is).
  void Pull(int16_t* out, unsigned count);
  static void PullInto(void* self, int16_t* frames, unsigned count);
  // Audio thread, after a callback of `frames` device frames: who copies next.
  void Steer(unsigned frames);
  bool Enter();
  void Leave();
  // Keep the callback out until Release; waits for a running call to leave.
  void Hold();
  void Release() { holds_.fetch_sub(1); }
  void NoteAudioThread();
  // Relay thread: copies ahead up to the target.
  void TopUp();
  void ReturnFinished();
  void RelayMain(bool raiseAudioThread);

  WindowHandle window_;
  const char* server_;
  std::unique_ptr<DeviceOutput> output_;
  unsigned rate_ = kRate;
  RateConverter converter_;

  Ring<WaveHeader*> queued_{kQueueSize};  // written, not yet copied to their end
  Ring<WaveHeader*> played_{kQueueSize};  // copied to their end, not yet returned
  std::atomic<uint64_t> written_{0};      // Write
  std::atomic<uint64_t> returned_{0};     // the relay (Reset while the relay is held off)
  uint32_t offset_ = 0;                   // the copier: frames of the oldest queued buffer taken
  std::atomic<uint64_t> position_{0};     // buffer frames taken since open or reset

  Ring<Chunk> ahead_{kAheadCapacity / kChunkFrames};  // the relay -> the callback
  uint32_t aheadOffset_ = 0;                          // audio thread: of the oldest chunk
  std::atomic<uint32_t> aheadFrames_{0};
  std::atomic<int> copier_{kCallbackCopies};
  std::atomic<uint32_t> need_{0};  // buffer frames the latest callback may take
  std::atomic<bool> playedOnce_{false};
  bool finished_ = false;  // audio thread: a buffer ended in this callback

  // The callback touches the queue only while holds_ is 0; busy_ tells that
  // it is inside. Both sequentially consistent, so a thread that raises
  // holds_ and then sees busy_ false knows the callback stays out.
  std::atomic<int> holds_{0};
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
  // Held while buffers are taken or returned by the relay, or by Reset,
  // which returns them itself. Both run at real-time priority, so the lock
  // inherits priority (a plain mutex could leave one waiting behind a
  // preempted holder).
  Lock relayLock_;
  std::thread relay_;
};

}  // namespace platform
