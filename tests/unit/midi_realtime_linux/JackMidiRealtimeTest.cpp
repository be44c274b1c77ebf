// The JACK MIDI input under a ten-second flood on a private JACK server:
// every message arrives once and in order, and JACK's real-time thread that
// runs our input's process callback never allocates, frees or locks a mutex.
//
// This executable replaces malloc, free and their kin (libstdc++'s operator
// new and delete go through them) and pthread_mutex_lock/trylock, counting
// the calls made on threads marked real-time. It also stands in for
// jack_set_process_callback, so that the process callback of our input's
// client ("Pelvane MIDI") marks its thread the first time it runs; the mark
// stays, so libjack's own work on that thread between periods counts too.
// Sanitizers bring their own allocator and interceptors: under them the
// flood still runs, but nothing is counted.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Midi.h"
#include "support/JackMidiSender.h"
#include "support/JackServer.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PELVANE_COUNTING 0
#else
#define PELVANE_COUNTING 1
#endif

namespace {

thread_local bool t_realtime = false;
std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_frees{0};
std::atomic<uint64_t> g_locks{0};
std::atomic<uint64_t> g_markedPeriods{0};

struct Process {
  JackProcessCallback callback = nullptr;
  void* arg = nullptr;
};
Process g_ours;

int MarkedProcess(jack_nframes_t frames, void* arg) {
  t_realtime = true;
  g_markedPeriods.fetch_add(1, std::memory_order_relaxed);
  auto* ours = static_cast<Process*>(arg);
  return ours->callback(frames, ours->arg);
}

template <class Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int jack_set_process_callback(jack_client_t* client, JackProcessCallback callback, void* arg) {
  using Function = int (*)(jack_client_t*, JackProcessCallback, void*);
  static Function next = Next<Function>("jack_set_process_callback");
  if (std::strncmp(jack_get_client_name(client), "Pelvane MIDI", 12) != 0)
    return next(client, callback, arg);
  g_ours = Process{callback, arg};
  return next(client, &MarkedProcess, &g_ours);
}

#if PELVANE_COUNTING
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* memory);

void* malloc(size_t size) {
  if (t_realtime) g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  if (t_realtime) g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
void* realloc(void* memory, size_t size) {
  if (t_realtime) g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(memory, size);
}
void* memalign(size_t alignment, size_t size) {
  if (t_realtime) g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** memory, size_t alignment, size_t size) {
  *memory = memalign(alignment, size);
  return *memory != nullptr ? 0 : ENOMEM;
}
void free(void* memory) {
  if (t_realtime && memory != nullptr) g_frees.fetch_add(1, std::memory_order_relaxed);
  __libc_free(memory);
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
  using Function = int (*)(pthread_mutex_t*);
  static Function next = Next<Function>("pthread_mutex_lock");
  if (t_realtime) g_locks.fetch_add(1, std::memory_order_relaxed);
  return next(mutex);
}
int pthread_mutex_trylock(pthread_mutex_t* mutex) {
  using Function = int (*)(pthread_mutex_t*);
  static Function next = Next<Function>("pthread_mutex_trylock");
  if (t_realtime) g_locks.fetch_add(1, std::memory_order_relaxed);
  return next(mutex);
}
#endif

}  // extern "C"

namespace {

// Stores every message word the input delivers, in a place made in advance.
struct Received {
  explicit Received(size_t capacity) : words(capacity), stamps(capacity) {}
  static void Callback(platform::MidiInHandle, uint32_t message, uintptr_t instance, uintptr_t word,
                       uintptr_t stamp) {
    if (message != platform::kMidiInData) return;
    auto* self = reinterpret_cast<Received*>(instance);
    size_t at = self->count.load(std::memory_order_relaxed);
    if (at < self->words.size()) {
      self->words[at] = static_cast<uint32_t>(word);
      self->stamps[at] = static_cast<uint32_t>(stamp);
    }
    self->count.store(at + 1, std::memory_order_release);
  }
  std::vector<uint32_t> words;
  std::vector<uint32_t> stamps;
  std::atomic<size_t> count{0};
};

TEST(JackMidiRealtimeTest, ATenSecondFloodArrivesWholeAndTheProcessThreadNeitherAllocatesNorLocks) {
  JackServer server(1024);
  ASSERT_TRUE(server.Ready()) << "jackd did not start";
  // 64 messages in each 1024-frame period at 44100 Hz: 431 periods, ten seconds.
  constexpr uint32_t kPerPeriod = 64;
  const size_t total = kPerPeriod * 431;
  std::vector<uint32_t> sent;
  for (size_t i = 0; i < total; ++i) sent.push_back(JackMidiSender::Numbered(i));
  JackMidiSender sender("pvtest-flood", sent, kPerPeriod);
  ASSERT_TRUE(sender.ok());

  platform::MidiApi& api = platform::NativeMidiApi();
  uint32_t count = api.InGetNumDevs();
  int id = -1;
  for (uint32_t i = 0; i < count; ++i) {
    char name[32];
    if (api.InGetDeviceName(i, name) == platform::kMidiOk &&
        std::string(name) == "JACK: pvtest-flood:out")
      id = static_cast<int>(i);
  }
  ASSERT_GE(id, 0);
  Received received(total + 1);
  platform::MidiInHandle in = 0;
  ASSERT_EQ(platform::kMidiOk, api.InOpen(&in, static_cast<uint32_t>(id), &Received::Callback,
                                          reinterpret_cast<uintptr_t>(&received)));
  ASSERT_EQ(platform::kMidiOk, api.InStart(in));
  ASSERT_TRUE(sender.WaitUntilConnected());
  auto started = std::chrono::steady_clock::now();
  sender.Release(total);
  ASSERT_TRUE(sender.WaitUntilSentAndPassed(3));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (received.count.load(std::memory_order_acquire) < total &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  uint64_t allocations = g_allocations.load(), frees = g_frees.load(), locks = g_locks.load();
  uint64_t periods = g_markedPeriods.load();
  EXPECT_EQ(platform::kMidiOk, api.InClose(in));
  std::printf("%zu messages in %.1f s; our process callback ran %llu periods\n", total,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
              static_cast<unsigned long long>(periods));

  ASSERT_EQ(total, received.count.load());
  for (size_t i = 0; i < total; ++i) {
    ASSERT_EQ(sent[i], received.words[i]) << "message " << i;
    if (i > 0) {
      ASSERT_LE(received.stamps[i - 1], received.stamps[i]) << "message " << i;
    }
  }
  EXPECT_GE(periods, 431u);
#if PELVANE_COUNTING
  std::printf("on JACK's real-time thread: %llu allocations, %llu frees, %llu mutex locks\n",
              static_cast<unsigned long long>(allocations), static_cast<unsigned long long>(frees),
              static_cast<unsigned long long>(locks));
  EXPECT_EQ(0u, allocations);
  EXPECT_EQ(0u, frees);
  EXPECT_EQ(0u, locks);
#else
  (void)allocations, (void)frees, (void)locks;
  std::printf("built with a sanitizer: allocations and locks are not counted\n");
#endif
}

}  // namespace
