#include "tools/RenderWaveOut.h"

#include <chrono>
#include <cstring>
#include <new>

using platform::WaveHeader;
using platform::WaveOutHandle;

bool RenderWaveOut::WaitUntilQueued(size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return queue_.size() >= count; });
}

void RenderWaveOut::SetPosition(uint32_t frame) {
  std::lock_guard<std::mutex> hold(mutex_);
  position_ = frame;
}

uint64_t RenderWaveOut::WriteCount() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return writes_;
}

bool RenderWaveOut::PlayNextBuffer(int16_t* out, int timeoutMs) {
  const uint64_t writesBefore = WriteCount();
  if (!ReturnNextBuffer(out)) return false;
  // The Mixer refills on its own thread; nothing else happens until it has
  // queued this buffer again, so no message is ever handled against a
  // half-refilled queue.
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return writes_ > writesBefore; });
}

bool RenderWaveOut::ReturnNextBuffer(int16_t* out) {
  std::unique_lock<std::mutex> hold(mutex_);
  if (queue_.empty()) return false;
  WaveHeader* header = queue_.front();
  if (header->bufferLength != kFramesPerBuffer * 4) return false;
  std::memcpy(out, header->data, kFramesPerBuffer * 4);
  queue_.pop_front();
  header->flags = (header->flags & ~platform::kWaveHeaderInQueue) | platform::kWaveHeaderDone;
  const platform::WindowHandle window = window_;
  hold.unlock();
  return platform::PostToWindow(window, platform::kMessageWaveOutDone, kHandle,
                                reinterpret_cast<intptr_t>(header));
}

uint32_t RenderWaveOut::GetDeviceName(uint32_t deviceId, char name[32]) {
  if (deviceId != 0 && deviceId != platform::kWaveMapper) return platform::kWaveBadDeviceId;
  std::strcpy(name, "Render");
  return platform::kWaveOk;
}

uint32_t RenderWaveOut::Open(WaveOutHandle* device, uint32_t deviceId,
                             platform::WindowHandle window) {
  if (deviceId != 0 && deviceId != platform::kWaveMapper) return platform::kWaveBadDeviceId;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (open_) return platform::kWaveError;
    open_ = true;
    window_ = window;
    position_ = 0;
  }
  *device = kHandle;
  platform::PostToWindow(window, platform::kMessageWaveOutOpen, kHandle, 0);
  return platform::kWaveOk;
}

uint32_t RenderWaveOut::PrepareHeader(WaveOutHandle device, WaveHeader* header) {
  if (device != kHandle || !header || !header->data) return platform::kWaveInvalidHandle;
  std::lock_guard<std::mutex> hold(mutex_);
  header->flags |= platform::kWaveHeaderPrepared;
  return platform::kWaveOk;
}

uint32_t RenderWaveOut::UnprepareHeader(WaveOutHandle device, WaveHeader* header) {
  if (device != kHandle || !header) return platform::kWaveInvalidHandle;
  std::lock_guard<std::mutex> hold(mutex_);
  if (header->flags & platform::kWaveHeaderInQueue) return platform::kWaveStillPlaying;
  header->flags &= ~platform::kWaveHeaderPrepared;
  return platform::kWaveOk;
}

uint32_t RenderWaveOut::Write(WaveOutHandle device, WaveHeader* header) {
  if (device != kHandle || !header) return platform::kWaveInvalidHandle;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!(header->flags & platform::kWaveHeaderPrepared)) return platform::kWaveError;
    if (!open_) return platform::kWaveInvalidHandle;
    header->flags = (header->flags & ~platform::kWaveHeaderDone) | platform::kWaveHeaderInQueue;
    queue_.push_back(header);
    writes_ += 1;
  }
  changed_.notify_all();
  return platform::kWaveOk;
}

uint32_t RenderWaveOut::GetPosition(WaveOutHandle device, uint32_t* frames, bool* isSamples) {
  if (device != kHandle) return platform::kWaveInvalidHandle;
  std::lock_guard<std::mutex> hold(mutex_);
  *frames = position_;
  *isSamples = true;
  return platform::kWaveOk;
}

uint32_t RenderWaveOut::Reset(WaveOutHandle device) {
  if (device != kHandle) return platform::kWaveInvalidHandle;
  std::deque<WaveHeader*> returned;
  platform::WindowHandle window;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    returned.swap(queue_);
    for (WaveHeader* header : returned)
      header->flags = (header->flags & ~platform::kWaveHeaderInQueue) | platform::kWaveHeaderDone;
    window = window_;
  }
  for (WaveHeader* header : returned) {
    platform::PostToWindow(window, platform::kMessageWaveOutDone, kHandle,
                           reinterpret_cast<intptr_t>(header));
  }
  changed_.notify_all();
  return platform::kWaveOk;
}

uint32_t RenderWaveOut::Close(WaveOutHandle device) {
  if (device != kHandle) return platform::kWaveInvalidHandle;
  platform::WindowHandle window;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!open_) return platform::kWaveInvalidHandle;
    if (!queue_.empty()) return platform::kWaveStillPlaying;
    open_ = false;
    window = window_;
    window_ = 0;
  }
  platform::PostToWindow(window, platform::kMessageWaveOutClose, kHandle, 0);
  return platform::kWaveOk;
}

platform::MemoryHandle RenderWaveOut::AllocBufferMemory(uint32_t bytes) {
  return reinterpret_cast<platform::MemoryHandle>(new (std::nothrow) char[bytes]);
}

void* RenderWaveOut::LockBufferMemory(platform::MemoryHandle memory) {
  return reinterpret_cast<void*>(memory);
}

void RenderWaveOut::UnlockBufferMemory(platform::MemoryHandle) {}

void RenderWaveOut::FreeBufferMemory(platform::MemoryHandle memory) {
  delete[] reinterpret_cast<char*>(memory);
}
