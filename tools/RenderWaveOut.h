// The wave device of an offline render. It behaves as the real device does
// towards the Mixer (one device, buffers played strictly in the order queued,
// returned one by one with kMessageWaveOutDone to the Mixer's window, a play
// position in frames), but time advances only when the render driver says so:
// the driver sets the position a message is handled at, then lets the buffer
// at the head of the queue "play", receives its frames and has the Mixer
// refill and requeue it before anything else happens: by dispatching the
// returned buffer itself when the Mixer runs on the driver's thread, or by
// waiting for the Mixer's own thread. So the Mixer does exactly what it would
// have done live at those instants, and the result never depends on timing.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/WaveOut.h"

class RenderWaveOut : public platform::WaveOutApi {
 public:
  static constexpr uint32_t kFramesPerBuffer = 1024;

  // Driver thread. Waits until count buffers are queued; false after
  // timeoutMs without that.
  bool WaitUntilQueued(size_t count, int timeoutMs);
  // Driver thread. The position the device reports from now on.
  void SetPosition(uint32_t frame);
  // Driver thread. Plays the buffer at the head of the queue: copies its 1024
  // frames to out (interleaved stereo), returns it to the Mixer and waits
  // until the Mixer has queued it again. False when no whole buffer was
  // queued, or after timeoutMs without the requeue.
  bool PlayNextBuffer(int16_t* out, int timeoutMs);
  // Driver thread. The first half of PlayNextBuffer, for a Mixer on the
  // driver's own thread: copies the head buffer's frames to out and posts it
  // back to the Mixer's window without waiting. False when no whole buffer
  // was queued or the window is gone.
  bool ReturnNextBuffer(int16_t* out);
  // Buffers handed to Write since the device opened.
  uint64_t WriteCount() const;

  uint32_t GetNumDevs() override { return 1; }
  uint32_t GetDeviceName(uint32_t deviceId, char name[32]) override;
  uint32_t Open(platform::WaveOutHandle* device, uint32_t deviceId,
                platform::WindowHandle window) override;
  uint32_t PrepareHeader(platform::WaveOutHandle device, platform::WaveHeader* header) override;
  uint32_t UnprepareHeader(platform::WaveOutHandle device, platform::WaveHeader* header) override;
  uint32_t Write(platform::WaveOutHandle device, platform::WaveHeader* header) override;
  uint32_t GetPosition(platform::WaveOutHandle device, uint32_t* frames, bool* isSamples) override;
  uint32_t Reset(platform::WaveOutHandle device) override;
  uint32_t Close(platform::WaveOutHandle device) override;
  platform::MemoryHandle AllocBufferMemory(uint32_t bytes) override;
  void* LockBufferMemory(platform::MemoryHandle memory) override;
  void UnlockBufferMemory(platform::MemoryHandle memory) override;
  void FreeBufferMemory(platform::MemoryHandle memory) override;

 private:
  static constexpr platform::WaveOutHandle kHandle = 1;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  platform::WindowHandle window_ = 0;
  std::deque<platform::WaveHeader*> queue_;
  uint32_t position_ = 0;
  uint64_t writes_ = 0;
};
