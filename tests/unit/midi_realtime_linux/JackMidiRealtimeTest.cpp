// The JACK MIDI input under a ten-second flood on a private JACK server:
// every message arrives once and in order, and JACK's real-time thread that
// runs our input's process callback never allocates, frees or locks a mutex.
//
// This executable has the real-time counter linked in
// (support/RealTimeCounter.cpp), counting the heap calls (libstdc++'s
// operator new and delete go through them) and mutex locks made on threads
// marked real-time: the server runs without real-time scheduling. It also
// stands in for jack_set_process_callback, so that the process callback of
// our input's client ("Pelvane MIDI") marks its thread the first time it
// runs; the mark stays, so libjack's own work on that thread between periods
// counts too. Sanitizers bring their own allocator and interceptors: under
// them the flood still runs, but nothing is counted.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Midi.h"
#include "support/JackMidiSender.h"
#include "support/JackServer.h"
#include "support/RealTimeCounter.h"

namespace {

thread_local bool t_realtime = false;
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
#if defined(PELVANE_RTCOUNT)
  pelvane_rtcount_start([] { return int(t_realtime); });
#endif
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
#if defined(PELVANE_RTCOUNT)
  const PelvaneRtCounts counts = pelvane_rtcount_stop();
#endif
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
#if defined(PELVANE_RTCOUNT)
  const long locks = counts.locks + counts.tryLocks + counts.piLocks;
  std::printf("on JACK's real-time thread: %ld heap calls, %ld mutex locks\n", counts.heap, locks);
  EXPECT_EQ(0, counts.heap);
  EXPECT_EQ(0, locks);
#else
  std::printf("built with a sanitizer: allocations and locks are not counted\n");
#endif
}

}  // namespace
