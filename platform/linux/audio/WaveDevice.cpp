#include "platform/linux/audio/WaveDevice.h"

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

// The copier. Hidden from ThreadSanitizer: the mixer mixes a new voice into a
// queued buffer after reading the play position without synchronising with
// the device (as waveOut's hardware would read it), so a buffer the device has
// just started may still be written. That costs at most a few late frames of
// the new voice, by design; every other access here is ordered by atomics.
__attribute__((no_sanitize("thread"))) void CopyFrames(int16_t* to, const char* from,
                                                       uint32_t frames) {
  const volatile int16_t* source = reinterpret_cast<const volatile int16_t*>(from);
  for (uint32_t i = 0; i < frames * 2; ++i) to[i] = source[i];
}

pid_t CurrentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void PauseMicroseconds(long microseconds) {
  const timespec pause = {0, microseconds * 1000};
  nanosleep(&pause, nullptr);
}

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

uint32_t WaveDevice::Need(unsigned frames) const {
  if (!converter_.Ready()) return frames;
  // The converter reads its input in chunks and keeps up to one of them.
  const uint64_t input = (uint64_t(frames) * kRate + rate_ - 1) / rate_;
  return static_cast<uint32_t>(input + 2 * RateConverter::kChunkFrames);
}

uint32_t WaveDevice::Write(WaveHeader* header) {
  if (header->flags & kWaveHeaderInQueue) return kWaveStillPlaying;
  const uint64_t written = written_.load(std::memory_order_relaxed);
  if (written - returned_.load(std::memory_order_acquire) >= kQueueSize) return kWaveNoMemory;
  header->flags = (header->flags & ~kWaveHeaderDone) | kWaveHeaderInQueue;
  written_.store(written + 1, std::memory_order_release);
  // Never full: no more buffers are out than the queue holds.
  queued_.TryPush(header);
  // A relay that copies ahead takes the buffer at once.
  if (copier_.load(std::memory_order_relaxed) != kCallbackCopies) sem_post(&wake_);
  return kWaveOk;
}

void WaveDevice::Hold() {
  holds_.fetch_add(1);
  // Not a spin: the caller may be the time-critical Mixer thread, and the
  // audio thread it waits for may need the same processor.
  while (busy_.load()) PauseMicroseconds(200);
}

void WaveDevice::ShutOutCallback() { Hold(); }

void WaveDevice::Reset() {
  Hold();
  {
    LockGuard hold(relayLock_);
    while (ahead_.Peek() != nullptr) ahead_.Pop();
    aheadOffset_ = 0;
    aheadFrames_.store(0);
    for (WaveHeader** oldest = queued_.Peek(); oldest != nullptr; oldest = queued_.Peek()) {
      WaveHeader* header = *oldest;
      queued_.Pop();
      played_.TryPush(header);
    }
    offset_ = 0;
    position_.store(0);
    converter_.Reset();
    ReturnFinished();
  }
  Release();
}

void WaveDevice::PreparePeriod(unsigned frames) {
  const uint32_t need = Need(frames);
  need_.store(need);
  // Smaller callbacks take the queue back themselves, once the frames ahead
  // are played.
  if (need <= kDirectFrames) return;
  Hold();
  copier_.exchange(kRelayCopies, std::memory_order_acq_rel);
  Release();
  sem_post(&wake_);
  // The first of the larger callbacks must find its frames ahead. Before the
  // device first played nothing is queued yet, and nothing can be late.
  if (!playedOnce_.load()) return;
  for (int waited = 0; waited < 100 && aheadFrames_.load() < need && !lost_.load(); ++waited)
    PauseMicroseconds(1000);
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
  if (holds_.load() == 0) return true;
  busy_.store(false);
  return false;
}

void WaveDevice::Leave() {
  if (finished_) sem_post(&wake_);
  finished_ = false;
  busy_.store(false);
}

uint32_t WaveDevice::TakeQueued(int16_t* out, uint32_t count, bool* finished) {
  uint32_t taken = 0;
  while (taken < count) {
    WaveHeader** oldest = queued_.Peek();
    if (oldest == nullptr) break;
    WaveHeader* header = *oldest;
    const uint32_t length = header->bufferLength / 4;
    const uint32_t take = std::min(length - offset_, count - taken);
    CopyFrames(out + size_t(taken) * 2, header->data + size_t(offset_) * 4, take);
    taken += take;
    offset_ += take;
    if (offset_ >= length) {
      offset_ = 0;
      queued_.Pop();
      played_.TryPush(header);  // never full, as queued_
      *finished = true;
    }
  }
  position_.fetch_add(taken, std::memory_order_release);
  return taken;
}

uint32_t WaveDevice::TakeAhead(int16_t* out, uint32_t count) {
  uint32_t taken = 0;
  while (taken < count) {
    Chunk* chunk = ahead_.Peek();
    if (chunk == nullptr) break;
    const uint32_t take = std::min(chunk->frames - aheadOffset_, count - taken);
    std::memcpy(out + size_t(taken) * 2, chunk->data + size_t(aheadOffset_) * 2, size_t(take) * 4);
    taken += take;
    aheadOffset_ += take;
    if (aheadOffset_ >= chunk->frames) {
      aheadOffset_ = 0;
      ahead_.Pop();
    }
  }
  if (taken > 0) aheadFrames_.fetch_sub(taken, std::memory_order_relaxed);
  return taken;
}

void WaveDevice::Pull(int16_t* out, unsigned count) {
  // Read before the frames ahead: a relay that handed the queue back pushed
  // its last frames before it said so.
  const bool mayCopy = copier_.load(std::memory_order_acquire) == kCallbackCopies;
  uint32_t got = TakeAhead(out, count);
  if (got < count && mayCopy) got += TakeQueued(out + size_t(got) * 2, count - got, &finished_);
  std::memset(out + size_t(got) * 2, 0, size_t(count - got) * 4);
}

void WaveDevice::PullInto(void* self, int16_t* frames, unsigned count) {
  static_cast<WaveDevice*>(self)->Pull(frames, count);
}

// Only the callback moves the copying away from itself (or PreparePeriod
// while it holds the callback out); only the relay gives it back.
void WaveDevice::Steer(unsigned frames) {
  const uint32_t need = Need(frames);
  need_.store(need, std::memory_order_relaxed);
  int copier = copier_.load(std::memory_order_relaxed);
  if (need > kDirectFrames) {
    if (copier == kCallbackCopies)
      copier_.store(kRelayCopies, std::memory_order_release);
    else if (copier == kRelayHandsBack)
      copier_.compare_exchange_strong(copier, kRelayCopies, std::memory_order_acq_rel);
    sem_post(&wake_);  // the relay tops up what this call took
  } else if (copier == kRelayCopies &&
             copier_.compare_exchange_strong(copier, kRelayHandsBack, std::memory_order_acq_rel)) {
    sem_post(&wake_);
  }
}

void WaveDevice::RenderInt16(int16_t* out, unsigned frames) {
  if (!Enter()) {
    std::memset(out, 0, size_t(frames) * 4);
    return;
  }
  NoteAudioThread();
  playedOnce_.store(true, std::memory_order_relaxed);
  Pull(out, frames);
  Steer(frames);
  Leave();
}

void WaveDevice::RenderFloat(float* left, float* right, size_t stride, unsigned frames) {
  if (!Enter()) {
    for (unsigned i = 0; i < frames; ++i) left[i * stride] = right[i * stride] = 0.0f;
    return;
  }
  NoteAudioThread();
  playedOnce_.store(true, std::memory_order_relaxed);
  const unsigned all = frames;
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
  Steer(all);
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

// Relay thread, holding relayLock_. Whole chunks: the target is passed by
// less than one.
void WaveDevice::TopUp() {
  const uint32_t target =
      std::min(need_.load(std::memory_order_relaxed) + kAheadMargin, kAheadCapacity - kChunkFrames);
  bool finished = false;
  while (aheadFrames_.load(std::memory_order_relaxed) < target && queued_.Peek() != nullptr) {
    const bool pushed = ahead_.TryPushRun(1, [&](Chunk& chunk, uint32_t) {
      chunk.frames = TakeQueued(chunk.data, kChunkFrames, &finished);
      // Counted before the chunk is published, so never below what the callback takes.
      aheadFrames_.fetch_add(chunk.frames, std::memory_order_relaxed);
    });
    if (!pushed) break;
  }
}

// Relay thread, or Reset (holding relayLock_ keeps the two apart).
void WaveDevice::ReturnFinished() {
  WaveHeader* header = nullptr;
  while (played_.TryPop(&header)) {
    header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
    returned_.fetch_add(1, std::memory_order_release);
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
      int copier = copier_.load(std::memory_order_acquire);
      // Handing back: the frames pushed so far and the place in the oldest
      // buffer go with the release.
      if (copier == kRelayHandsBack)
        copier_.compare_exchange_strong(copier, kCallbackCopies, std::memory_order_acq_rel);
      if (copier == kRelayCopies) TopUp();
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
