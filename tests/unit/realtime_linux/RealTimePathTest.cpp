// The real-time path under load, on a private JACK server: the audio
// callback and the Mixer's refill (the code inside platform::RealTimeScope)
// neither touch the heap nor take any lock but Mixer::Lock; and a standard
// error that nobody reads neither stops the refills nor Stop, while its lost
// lines are counted exactly.
//
// This executable interposes the heap functions and pthread_mutex_lock: the
// program's own definitions take the place of the C library's for every
// library in the process (libjack, libsamplerate, libstdc++), and count the
// calls made inside a RealTimeScope. Sanitizers bring their own allocator,
// so there the counting is left out and its test skipped.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Instrument.h"
#include "engine/Mixer.h"
#include "engine/PitchTable.h"
#include "platform/RealTime.h"
#include "platform/Thread.h"
#include "platform/WaveOut.h"
#include "support/JackRecorder.h"
#include "support/JackServer.h"
#include "support/LogCapture.h"
#include "support/MixerPeer.h"
#include "support/doubles/SleepMs.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PELVANE_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PELVANE_SANITIZED 1
#endif

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_heapCalls{0};
std::atomic<long> g_otherLocks{0};
std::atomic<long> g_mixerLocks{0};
std::atomic<long> g_wakeUps{0};
std::atomic<pthread_mutex_t*> g_mixerLock{nullptr};

[[maybe_unused]] bool Counting() {
  return g_counting.load(std::memory_order_relaxed) && platform::InRealTimeScope();
}

}  // namespace

#if !defined(PELVANE_SANITIZED)
extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t size) {
  if (Counting()) g_heapCalls++;
  return __libc_malloc(size);
}
void free(void* block) {
  if (block && Counting()) g_heapCalls++;
  __libc_free(block);
}
void* calloc(size_t count, size_t size) {
  if (Counting()) g_heapCalls++;
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  if (Counting()) g_heapCalls++;
  return __libc_realloc(block, size);
}
void* memalign(size_t alignment, size_t size) {
  if (Counting()) g_heapCalls++;
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** block, size_t alignment, size_t size) {
  *block = memalign(alignment, size);
  return *block ? 0 : ENOMEM;
}

}  // extern "C"

// The C library's own functions, looked up at first use (dlsym takes no
// pthread mutex of ours).
template <typename Function>
Function Real(std::atomic<Function>& cache, const char* name) {
  Function function = cache.load(std::memory_order_relaxed);
  if (!function) {
    function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    cache.store(function, std::memory_order_relaxed);
  }
  return function;
}

extern "C" {
using LockFunction = int (*)(pthread_mutex_t*);
std::atomic<LockFunction> g_realLock{nullptr};
std::atomic<LockFunction> g_realTryLock{nullptr};

static void NoteLock(pthread_mutex_t* mutex) {
  if (!Counting()) return;
  if (mutex == g_mixerLock.load())
    g_mixerLocks++;
  else
    g_otherLocks++;
}
int pthread_mutex_lock(pthread_mutex_t* mutex) {
  NoteLock(mutex);
  return Real(g_realLock, "pthread_mutex_lock")(mutex);
}
int pthread_mutex_trylock(pthread_mutex_t* mutex) {
  NoteLock(mutex);
  return Real(g_realTryLock, "pthread_mutex_trylock")(mutex);
}

using PostFunction = int (*)(sem_t*);
std::atomic<PostFunction> g_realPost{nullptr};
// The audio callback wakes the relay thread through this once a buffer ends:
// proof that the callback ran inside its scope.
int sem_post(sem_t* semaphore) {
  if (Counting()) g_wakeUps++;
  return Real(g_realPost, "sem_post")(semaphore);
}
}
#endif

namespace {

using platform::WaveOutApi;

uint32_t JackSystemDevice() {
  WaveOutApi& api = platform::NativeWaveOutApi();
  const uint32_t count = api.GetNumDevs();
  for (uint32_t id = 0; id < count; ++id) {
    char name[32];
    if (api.GetDeviceName(id, name) == platform::kWaveOk && std::strcmp(name, "JACK: system") == 0)
      return id;
  }
  return platform::kWaveMapper;
}

int32_t Voices(Mixer& mixer) {
  mixer.Lock();
  const int32_t count = mixer.VoiceCount();
  mixer.Unlock();
  return count;
}

// Ten seconds of 256 voices at once, on a server at 48000 (so the rate
// conversion runs too): whenever voices end, new ones take their places, some
// released at once so that fades end and voices leave in every refill.
TEST(RealTimePath, TenSecondsOf256VoicesNeitherAllocateNorWait) {
#if defined(PELVANE_SANITIZED)
  GTEST_SKIP() << "a sanitizer's allocator cannot be counted";
#else
  // The counters count: a scope on this thread sees its own calls.
  g_counting = true;
  {
    platform::RealTimeScope scope;
    std::free(std::malloc(16));
  }
  g_counting = false;
  ASSERT_EQ(g_heapCalls.exchange(0), 2);

  JackServer server(256, 48000);
  ASSERT_TRUE(server.Ready()) << "the JACK server did not start";
  BuildPitchTable();
  Instrument instrument;
  instrument.MakeDefault();
  LogCapture log;
  const uint32_t device = JackSystemDevice();
  ASSERT_NE(device, platform::kWaveMapper);
  auto mixer = std::make_unique<Mixer>(device);
  ASSERT_TRUE(log.WaitFor("Wave out opened"));
  // Mixer::Lock is the one lock the refill takes: a pthread mutex at the
  // start of the Lock's storage, with priority inheritance (glibc marks such
  // a mutex with PTHREAD_MUTEX_PRIO_INHERIT_NP, 32, in its kind).
  auto* mixerLock = reinterpret_cast<pthread_mutex_t*>(&MixerPeer::Lock(*mixer));
  EXPECT_NE(mixerLock->__data.__kind & 32, 0);
  g_mixerLock = mixerLock;
  g_counting = true;

  int32_t peak = 0, started = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
    mixer->Lock();
    while (mixer->VoiceCount() < MIXER_MAX_VOICES) {
      Voice* voice = mixer->StartVoice(40 + started % 48, started % 16, 100, 100, &instrument);
      if (!voice) break;
      if (started % 5 == 0) {
        voice->state = VOICE_RELEASING;
        voice->releaseCounter = VOICE_RELEASE_FRAMES;
      }
      ++started;
    }
    peak = std::max(peak, mixer->VoiceCount());
    mixer->Unlock();
    platform::SleepMs(20);
  }
  g_counting = false;
  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();

  EXPECT_EQ(peak, MIXER_MAX_VOICES);
  EXPECT_GT(started, 2 * MIXER_MAX_VOICES) << "voices ended and were replaced";
  // About 430 refills and as many buffers ended in ten seconds.
  EXPECT_GT(g_mixerLocks.load(), 100);
  EXPECT_GT(g_wakeUps.load(), 100);
  std::printf(
      "%d voices started; in the real-time scopes %ld refills, %ld buffers ended, %ld heap calls, "
      "%ld other locks\n",
      started, g_mixerLocks.load(), g_wakeUps.load(), g_heapCalls.load(), g_otherLocks.load());
  EXPECT_EQ(g_heapCalls.load(), 0);
  EXPECT_EQ(g_otherLocks.load(), 0);
#endif
}

// Standard error as a pipe whose buffer is full and that nobody reads: every
// log line must then wait in the output's queue or be dropped. A note plays
// on while the log is flooded from under Mixer::Lock (every StartVoice for a
// note without a sample logs there); it is heard without a gap, and Stop
// completes. Once the pipe is read again, the lines kept come out in order
// and one line tells exactly how many were dropped.
TEST(RealTimePath, StalledStandardErrorStopsNeitherRefillsNorStop) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const int savedError = dup(2);
  fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
  const std::string filler = "filler\n";
  size_t fillerLines = 0;
  while (write(pipeEnds[1], filler.data(), filler.size()) == ssize_t(filler.size())) ++fillerLines;
  fcntl(pipeEnds[1], F_SETFL, 0);
  dup2(pipeEnds[1], 2);
  struct Restore {
    int saved;
    ~Restore() { dup2(saved, 2); }
  } restore{savedError};

  LogCapture log;
  JackServer server(256);
  ASSERT_TRUE(server.Ready()) << "the JACK server did not start";
  JackRecorder recorder(44100 * 20);
  ASSERT_TRUE(recorder.Ok());
  BuildPitchTable();
  Instrument tone, silent;
  tone.MakeDefault();
  const uint32_t device = JackSystemDevice();
  ASSERT_NE(device, platform::kWaveMapper);
  auto mixer = std::make_unique<Mixer>(device);
  ASSERT_TRUE(log.WaitFor("Wave out opened"));
  for (int tries = 0; !recorder.Connect("Pelvane:outport 0", "Pelvane:outport 1"); ++tries) {
    ASSERT_LT(tries, 1000);
    platform::SleepMs(10);
  }

  mixer->Lock();
  Voice* note = mixer->StartVoice(64, 0, 100, 100, &tone);
  mixer->Unlock();
  ASSERT_NE(note, nullptr);
  // A flood of 20,000 lines, ten a millisecond, while the note plays: more
  // than twice what the debug output's ring holds, however slowly a loaded or
  // sanitized build logs them, so that lines must be dropped.
  auto flood = std::async(std::launch::async, [&] {
    for (int round = 0; round < 2000; ++round) {
      for (int i = 0; i < 10; ++i) {
        mixer->Lock();
        mixer->StartVoice(30, 1, 100, 100, &silent);
        mixer->Unlock();
      }
      platform::SleepMs(1);
    }
  });
  if (flood.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "logging blocked its caller";
    char chunk[65536];
    while (flood.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      read(pipeEnds[0], chunk, sizeof chunk);
    return;
  }
  mixer->Lock();
  note->state = VOICE_RELEASING;
  note->releaseCounter = VOICE_RELEASE_FRAMES;
  mixer->Unlock();
  for (int waited = 0; Voices(*mixer) > 0 && waited < 20000; waited += 10) platform::SleepMs(10);
  ASSERT_EQ(Voices(*mixer), 0);
  auto stopped = std::async(std::launch::async, [&] {
    mixer->ScheduleShutdown();
    mixer->WaitForShutdown();
  });
  ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "Stop did not complete";

  // The note from its first frame to its release: never silent in both
  // channels for more than a frame (the tone is a sine of 2047 at this gain).
  size_t first = 0, last = 0, gap = 0, longestGap = 0;
  for (size_t f = 0; f < recorder.Frames(); ++f)
    if (recorder.At(f, 0) != 0 || recorder.At(f, 1) != 0) (first == 0 ? first : last) = f;
  ASSERT_GT(last, first + 44100 / 2);
  for (size_t f = first; f + VOICE_RELEASE_FRAMES < last; ++f) {
    gap = (recorder.At(f, 0) == 0 && recorder.At(f, 1) == 0) ? gap + 1 : 0;
    longestGap = std::max(longestGap, gap);
  }
  EXPECT_LE(longestGap, 1u) << "the refills fell behind";

  // Read the pipe until the loss has been told.
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
  while (text.find("lines lost while standard error was not being read\n") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    char chunk[65536];
    ssize_t got = read(pipeEnds[0], chunk, sizeof chunk);
    if (got > 0)
      text.append(chunk, size_t(got));
    else
      platform::SleepMs(5);
  }
  std::vector<std::string> written;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) written.push_back(line);
  ASSERT_GT(written.size(), fillerLines);
  for (size_t i = 0; i < fillerLines; ++i) ASSERT_EQ(written[i], "filler");
  written.erase(written.begin(), written.begin() + long(fillerLines));
  ASSERT_FALSE(written.empty());
  const std::string report = written.back();
  written.pop_back();

  // Every line logged reached the capture; those written are its first ones,
  // in order, whole.
  std::vector<std::string> logged;
  for (const std::string& entry : log.Raw())
    if (entry != "\n") logged.push_back(entry);
  ASSERT_LT(written.size(), logged.size()) << "some lines must have been dropped";
  for (size_t i = 0; i < written.size(); ++i) ASSERT_EQ(written[i], logged[i]) << "line " << i;
  const size_t lost = logged.size() - written.size();
  EXPECT_EQ(report.substr(12), "Debug output: " + std::to_string(lost) +
                                   " lines lost while standard error was not being read");
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

}  // namespace
