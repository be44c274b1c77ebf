#include "platform/linux/WaveDevice.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Notice.h"
#include "platform/linux/RealTimePriority.h"

namespace platform {

namespace {

// Audio thread. Hidden from ThreadSanitizer: the mixer mixes a new voice into
// a queued buffer after reading the play position without synchronising with
// the device (as waveOut's hardware would read it), so a buffer the device has
// just started may still be written. That costs at most a few late frames of
// the new voice, by design; every other access here is ordered by atomics.
__attribute__((no_sanitize("thread"))) void CopyFrames(int16_t* to, const char* from,
                                                       uint32_t frames) {
  const volatile int16_t* source = reinterpret_cast<const volatile int16_t*>(from);
  for (uint32_t i = 0; i < frames * 2; ++i) to[i] = source[i];
}

pid_t CurrentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

}  // namespace

WaveDevice::WaveDevice(WindowHandle window, const char* server) : window_(window), server_(server) {
  sem_init(&wake_, 0, 0);
}

WaveDevice::~WaveDevice() {
  if (output_) output_->Shutdown();
  output_.reset();
  if (relay_.joinable()) {
    quit_.store(true);
    sem_post(&wake_);
    relay_.join();
  }
  sem_destroy(&wake_);
}

bool WaveDevice::SetDeviceRate(unsigned rate, std::string* error) {
  rate_ = rate;
  if (rate == kRate) return true;
  return converter_.Prepare(kRate, rate, &WaveDevice::PullInto, this, error);
}

bool WaveDevice::StartRelay(bool raiseAudioThread) {
  raiseAudioThread_ = raiseAudioThread;
  try {
    relay_ = std::thread(&WaveDevice::RelayMain, this, raiseAudioThread);
  } catch (...) {
    return false;
  }
  return true;
}

uint32_t WaveDevice::Write(WaveHeader* header) {
  if (header->flags & kWaveHeaderInQueue) return kWaveStillPlaying;
  const uint64_t written = written_.load(std::memory_order_relaxed);
  if (written - returned_.load(std::memory_order_acquire) >= kRingSize) return kWaveNoMemory;
  header->flags = (header->flags & ~kWaveHeaderDone) | kWaveHeaderInQueue;
  ring_[written % kRingSize] = header;
  written_.store(written + 1, std::memory_order_release);
  return kWaveOk;
}

void WaveDevice::ShutOutCallback() {
  stopped_.store(true);
  // Not a spin: the caller may be the time-critical Mixer thread, and the
  // audio thread it waits for may need the same processor.
  const timespec pause = {0, 200000};
  while (busy_.load()) nanosleep(&pause, nullptr);
}

void WaveDevice::Reset() {
  ShutOutCallback();
  played_.store(written_.load());
  offset_ = 0;
  position_.store(0);
  converter_.Reset();
  {
    LockGuard hold(relayLock_);
    ReturnFinished();
  }
  stopped_.store(false);
}

// Audio thread: once, the thread's id for the relay to raise (one cheap
// system call, never a blocking one).
void WaveDevice::NoteAudioThread() {
  if (raiseAudioThread_ && audioThread_.load(std::memory_order_relaxed) == 0) {
    audioThread_.store(CurrentTid());
    sem_post(&wake_);
  }
}

bool WaveDevice::Enter() {
  busy_.store(true);
  if (!stopped_.load()) return true;
  busy_.store(false);
  return false;
}

void WaveDevice::Leave() {
  if (finished_) sem_post(&wake_);
  finished_ = false;
  busy_.store(false);
}

void WaveDevice::Pull(int16_t* out, unsigned count) {
  const uint64_t written = written_.load(std::memory_order_acquire);
  uint64_t played = played_.load(std::memory_order_relaxed);
  uint64_t frames = 0;
  while (count > 0 && played != written) {
    WaveHeader* header = ring_[played % kRingSize];
    const uint32_t length = header->bufferLength / 4;
    const uint32_t take = std::min<uint32_t>(length - offset_, count);
    CopyFrames(out, header->data + size_t(offset_) * 4, take);
    out += size_t(take) * 2;
    count -= take;
    frames += take;
    offset_ += take;
    if (offset_ >= length) {
      offset_ = 0;
      ++played;
      played_.store(played, std::memory_order_release);
      finished_ = true;
    }
  }
  position_.fetch_add(frames, std::memory_order_release);
  std::memset(out, 0, size_t(count) * 4);
}

void WaveDevice::PullInto(void* self, int16_t* frames, unsigned count) {
  static_cast<WaveDevice*>(self)->Pull(frames, count);
}

void WaveDevice::RenderInt16(int16_t* out, unsigned frames) {
  if (!Enter()) {
    std::memset(out, 0, size_t(frames) * 4);
    return;
  }
  NoteAudioThread();
  Pull(out, frames);
  Leave();
}

void WaveDevice::RenderFloat(float* left, float* right, size_t stride, unsigned frames) {
  if (!Enter()) {
    for (unsigned i = 0; i < frames; ++i) left[i * stride] = right[i * stride] = 0.0f;
    return;
  }
  NoteAudioThread();
  while (frames > 0) {
    const unsigned count = std::min(frames, kScratchFrames);
    if (converter_.Ready()) {
      converter_.Read(scratch_, count);
    } else {
      // 16-bit values carried as floats scaled by 1/32768: exactly reversible.
      Pull(scratch16_, count);
      for (unsigned i = 0; i < count * 2; ++i) scratch_[i] = scratch16_[i] * (1.0f / 32768.0f);
    }
    for (unsigned i = 0; i < count; ++i) {
      left[i * stride] = scratch_[2 * i];
      right[i * stride] = scratch_[2 * i + 1];
    }
    left += size_t(count) * stride;
    right += size_t(count) * stride;
    frames -= count;
  }
  Leave();
}

void WaveDevice::Lost(const char* reason) {
  if (lostClaimed_.exchange(true)) return;
  size_t i = 0;
  for (; reason && reason[i] && i + 1 < sizeof lostReason_; ++i) lostReason_[i] = reason[i];
  lostReason_[i] = 0;
  lost_.store(true);
  sem_post(&wake_);
}

// Relay thread, or Reset (holding relayLock_ keeps the two apart).
void WaveDevice::ReturnFinished() {
  const uint64_t played = played_.load(std::memory_order_acquire);
  uint64_t returned = returned_.load(std::memory_order_relaxed);
  while (returned != played) {
    WaveHeader* header = ring_[returned % kRingSize];
    header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
    ++returned;
    returned_.store(returned, std::memory_order_release);
    PostToWindow(window_, kMessageWaveOutDone, reinterpret_cast<uintptr_t>(this),
                 reinterpret_cast<intptr_t>(header));
  }
}

void WaveDevice::RelayMain(bool raiseAudioThread) {
  pthread_setname_np(pthread_self(), "wave relay");
  // The buffers come back through this thread, so it runs as high as the
  // Mixer thread that refills them.
  if (MakeThreadRealTime(CurrentTid()) == 0) TellRealTimeRefused();
  bool audioThreadDone = !raiseAudioThread;
  bool lostTold = false;
  for (;;) {
    while (sem_wait(&wake_) != 0 && errno == EINTR) {
    }
    if (quit_.load()) break;
    if (!audioThreadDone) {
      if (pid_t tid = audioThread_.load()) {
        audioThreadDone = true;
        if (MakeThreadRealTime(tid) == 0) TellRealTimeRefused();
      }
    }
    {
      LockGuard hold(relayLock_);
      ReturnFinished();
    }
    if (!lostTold && lost_.load()) {
      lostTold = true;
      NoticeFormat("Wave out lost: %s has gone away (%s)", server_, lostReason_);
    }
  }
  // A loss just before a close is told all the same.
  if (!lostTold && lost_.load())
    NoticeFormat("Wave out lost: %s has gone away (%s)", server_, lostReason_);
}

}  // namespace platform
