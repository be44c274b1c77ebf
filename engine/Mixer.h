// Owns the sounding voices (at most 256) and the wave output device. Its own
// thread, at time-critical priority, owns a hidden window "Mixer" to which the
// device returns its four buffers; each returned buffer is cleared, every
// voice is rendered into it, finished voices are removed and the buffer is
// queued again. New voices are mixed ahead into the queued buffers at once.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/Voice.h"
#include "engine/VoicePool.h"
#include "platform/Lock.h"
#include "platform/Thread.h"
#include "platform/WaveOut.h"
#include "platform/Window.h"

constexpr int32_t MIXER_MAX_VOICES = 256;
constexpr int32_t MIXER_BUFFER_COUNT = 4;
constexpr int32_t MIXER_BUFFER_BYTES = 4096;
constexpr int32_t MIXER_BUFFER_FRAMES = MIXER_BUFFER_BYTES / 4;

// Where a Mixer handles its device's notifications (buffers opened,
// returned, closed): on a thread of its own at time-critical priority, as the
// program does, or on the thread that constructs it, whenever that thread
// calls Mixer::DispatchQueued. An offline render takes the latter: its device
// decides when a buffer comes back, so the whole render is one thread.
enum class MixerThread { kOwn, kCaller };

class Mixer {
 public:
  // Thread: ui. Starts the Mixer thread, which opens the device later; with
  // MixerThread::kCaller creates the hidden window on the calling thread and
  // opens the device at once instead.
  explicit Mixer(uint32_t deviceId, MixerThread where = MixerThread::kOwn);
  // Thread: ui. Waits for the thread if that was not done, then destroys the
  // remaining voices.
  ~Mixer();
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  // Thread: ui. Asks the Mixer thread to stop and returns at once.
  void ScheduleShutdown();
  // Thread: ui. Waits without limit for the Mixer thread to end. A
  // caller-thread Mixer releases its buffers, window and device here.
  void WaitForShutdown();

  // Thread: mixer (real-time), which for a caller-thread Mixer is the one that
  // made it. Handles the notifications queued so far and returns without
  // waiting for more.
  void DispatchQueued();

  // Thread: midi-in, mixer (real-time), or ui. Holds the lock over the voices
  // from its construction to the end of the enclosing scope: the
  // synthesizer's voice work takes it so.
  class Held {
   public:
    explicit Held(Mixer& mixer) : guard_(mixer.lock) {}

   private:
    platform::LockGuard guard_;
  };
  // Thread: any not holding the lock. For tests and benchmarks that hold it
  // across their checks.
  void Lock() { lock.Enter(); }
  void Unlock() { lock.Leave(); }

  // Thread: any, holding the lock. Creates, registers and mixes ahead a new voice;
  // null when 256 voices are registered or the instrument has no sample for
  // the note.
  Voice* StartVoice(int32_t note, int32_t channel, int32_t velocity, int32_t volume,
                    Instrument* instrument);
  // Thread: any, holding the lock. The first VOICE_PLAYING voice in slot order
  // with this note and channel, or null.
  Voice* FindVoice(int32_t note, int32_t channel);
  // Thread: any, holding the lock. Calls visit(Voice&) for every registered
  // voice of this channel, whatever its state, in slot order.
  template <class Visit>
  void ForEachVoiceOfChannel(int32_t channel, Visit visit) {
    for (int32_t k = 0; k < voiceCount; ++k) {
      if (voices[k]->channel == channel) visit(*voices[k]);
    }
  }
  // Thread: any, holding the lock. The registered voices, in slot order:
  // slots 0 .. VoiceCount() - 1 hold one each.
  int32_t VoiceCount() const { return voiceCount; }
  Voice* VoiceAt(int32_t slot) const { return voices[slot]; }
  // Thread: any not holding the lock. Takes it for the count of the voices
  // registered now (an offline render's end test).
  int32_t CountVoices();

 private:
  friend struct MixerPeer;  // the tests' and benchmarks' view of the rest

  // Thread: mixer (real-time), every function below.
  static void ThreadMain(void* self);
  void Run();
  static intptr_t WindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam);
  void PrepareBuffers();
  void RefillBuffer(platform::WaveOutHandle device, platform::WaveHeader* header);
  void OnClose();
  // Returns every queued buffer, unprepares, unlocks and frees the buffers.
  void ReleaseBuffers();
  // The thread that handles the notifications: creates the hidden window and
  // opens the device (false when there is no window); then closes it all.
  bool OpenOnThisThread();
  void CloseOnThisThread();

  uint32_t deviceId;
  // The device backend, fixed at construction so the device is closed
  // through the same one that opened it.
  platform::WaveOutApi* api;
  platform::WaveOutHandle waveOut = 0;
  std::atomic<bool> stopRequested{false};
  platform::Thread thread;
  bool threadGone = false;
  // True for MixerThread::kCaller: no thread of its own.
  bool onCallerThread = false;
  std::atomic<platform::WindowHandle> window{0};
  int16_t* bufferData[MIXER_BUFFER_COUNT] = {};
  platform::MemoryHandle bufferMemory[MIXER_BUFFER_COUNT] = {};
  platform::WaveHeader headers[MIXER_BUFFER_COUNT] = {};
  int32_t nextBuffer = 0;
  // Under the lock: true from the moment all four buffers are prepared and
  // queued until the device is being released. Only then may StartVoice mix
  // ahead into them, and only then is a returned buffer refilled and queued.
  bool buffersQueued = false;
  // Mixer thread only: how far each buffer's set-up got, for the release.
  bool bufferPrepared[MIXER_BUFFER_COUNT] = {};
  platform::Lock lock;
  int32_t voiceCount = 0;
  Voice* voices[MIXER_MAX_VOICES] = {};
  // Under the lock: where every registered voice lives.
  VoicePool<MIXER_MAX_VOICES> voicePool;
};
