// The RtAudio wave output on a private JACK server (dummy driver), whose
// period differs from the buffers' length: buffers must still play in order,
// whole and once, come back one DONE each, and count into the position.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Mixer.h"
#include "platform/Thread.h"
#include "platform/WaveOut.h"
#include "platform/Window.h"
#include "platform/linux/JackClient.h"
#include "platform/linux/MessageQueue.h"
#include "support/JackRecorder.h"
#include "support/JackServer.h"
#include "support/LogCapture.h"
#include "support/MixerPeer.h"
#include "support/doubles/SleepMs.h"

using namespace platform;

namespace {

struct Posted {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  uint32_t flagsWhenPosted;  // the returned header's flags as the receiver saw them
};

// A hidden window on the test thread that keeps every device notification.
class Notifications {
 public:
  Notifications() : window_(CreateMessageWindow("test")) {
    SetWindowOwner(window_, this);
    SetWindowProcedure(window_, Procedure);
  }
  ~Notifications() { DestroyMessageWindow(window_); }

  WindowHandle Window() const { return window_; }
  std::vector<Posted> received;
  std::function<void(WaveHeader*)> onDone;

  // Dispatches messages until done() holds; false after timeoutMs.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    for (int waited = 0; !done();) {
      bool quit = false;
      if (PeekAndDispatchMessage(&quit)) continue;
      if (waited >= timeoutMs) return false;
      SleepMs(1);
      ++waited;
    }
    return true;
  }

  size_t Count(uint32_t message) const {
    size_t n = 0;
    for (const Posted& p : received) n += p.message == message;
    return n;
  }

 private:
  static intptr_t Procedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) {
    auto* self = static_cast<Notifications*>(GetWindowOwner(window));
    auto* header = message == kMessageWaveOutDone ? reinterpret_cast<WaveHeader*>(lParam) : nullptr;
    self->received.push_back(Posted{message, wParam, lParam, header ? header->flags : 0});
    if (header && self->onDone) self->onDone(header);
    return 0;
  }

  WindowHandle window_;
};

// Buffers of `frames` frames each, in memory the device hands out.
struct Buffers {
  Buffers(WaveOutApi& device, int count, uint32_t frames) : api(device), headers(count) {
    for (int i = 0; i < count; ++i) {
      memory.push_back(api.AllocBufferMemory(frames * 4));
      headers[i].data = static_cast<char*>(api.LockBufferMemory(memory.back()));
      headers[i].bufferLength = frames * 4;
      headers[i].user = i;
    }
  }
  ~Buffers() {
    for (MemoryHandle m : memory) {
      api.UnlockBufferMemory(m);
      api.FreeBufferMemory(m);
    }
  }
  int16_t* Samples(int i) { return reinterpret_cast<int16_t*>(headers[i].data); }

  WaveOutApi& api;
  std::vector<WaveHeader> headers;
  std::vector<MemoryHandle> memory;
};

uint32_t FindDevice(WaveOutApi& api, const char* wanted) {
  uint32_t count = api.GetNumDevs();
  for (uint32_t id = 0; id < count; ++id) {
    char name[32];
    if (api.GetDeviceName(id, name) == kWaveOk && std::strcmp(name, wanted) == 0) return id;
  }
  return kWaveMapper - 1;
}

struct Shape {
  int period;             // the JACK server's frames per callback
  uint32_t bufferFrames;  // frames per queued buffer
};

class WaveOutJackTest : public ::testing::TestWithParam<Shape> {};

// Four buffers cycled as the mixer does: each one that comes back is filled
// with the next stretch of a ramp and queued again, twelve buffers in all.
// Buffer n's frame i holds left n * frames + i + 1 and right the negative, so
// the recording shows any frame lost, repeated or out of order.
TEST_P(WaveOutJackTest, PlaysBuffersInOrderWholeAndOnceAcrossPeriods) {
  const Shape shape = GetParam();
  const int kTotal = 12;
  JackServer server(shape.period);
  ASSERT_TRUE(server.Ready());
  WaveOutApi& api = NativeWaveOutApi();
  uint32_t id = FindDevice(api, "JACK: system");
  ASSERT_LT(id, api.GetNumDevs());

  JackRecorder recorder(44100 * 4);
  ASSERT_TRUE(recorder.Ok());
  Notifications notifications;
  WaveOutHandle device = 0;
  ASSERT_EQ(api.Open(&device, id, notifications.Window()), kWaveOk);
  ASSERT_TRUE(
      notifications.PumpUntil([&] { return notifications.Count(kMessageWaveOutOpen) == 1; }));
  EXPECT_EQ(notifications.received[0].wParam, device);
  ASSERT_TRUE(recorder.Connect("Pelvane:outport 0", "Pelvane:outport 1"));
  size_t connectedAt = recorder.Frames();
  ASSERT_TRUE(notifications.PumpUntil([&] { return recorder.Frames() >= connectedAt + 4096; }));

  Buffers buffers(api, 4, shape.bufferFrames);
  int queued = 0;
  auto fillAndQueue = [&](WaveHeader* header) {
    int16_t* samples = reinterpret_cast<int16_t*>(header->data);
    for (uint32_t i = 0; i < shape.bufferFrames; ++i) {
      int16_t value = static_cast<int16_t>(queued * shape.bufferFrames + i + 1);
      samples[2 * i] = value;
      samples[2 * i + 1] = static_cast<int16_t>(-value);
    }
    ++queued;
    EXPECT_EQ(api.Write(device, header), kWaveOk);
  };
  for (WaveHeader& header : buffers.headers) ASSERT_EQ(api.PrepareHeader(device, &header), kWaveOk);
  for (WaveHeader& header : buffers.headers) fillAndQueue(&header);
  notifications.onDone = [&](WaveHeader* header) {
    if (queued < kTotal) fillAndQueue(header);
  };
  ASSERT_TRUE(notifications.PumpUntil(
      [&] { return notifications.Count(kMessageWaveOutDone) == size_t(kTotal); }));

  std::vector<uintptr_t> order;
  for (const Posted& p : notifications.received) {
    if (p.message != kMessageWaveOutDone) continue;
    EXPECT_EQ(p.wParam, device);
    EXPECT_EQ(p.flagsWhenPosted & (kWaveHeaderDone | kWaveHeaderInQueue | kWaveHeaderPrepared),
              kWaveHeaderDone | kWaveHeaderPrepared);
    order.push_back(reinterpret_cast<WaveHeader*>(p.lParam)->user);
  }
  EXPECT_EQ(order, (std::vector<uintptr_t>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3}));

  // Starved now: the device plays silence, which the position does not count.
  // At a large period the last buffers came back when they were copied ahead,
  // up to a period and 2048 frames before they play: two periods more drain them.
  size_t doneAt = recorder.Frames();
  ASSERT_TRUE(notifications.PumpUntil(
      [&] { return recorder.Frames() >= doneAt + 3 * 2048 + 2 * size_t(shape.period); }));
  uint32_t position = 0;
  bool isSamples = false;
  EXPECT_EQ(api.GetPosition(device, &position, &isSamples), kWaveOk);
  EXPECT_TRUE(isSamples);
  EXPECT_EQ(position, kTotal * shape.bufferFrames);

  std::vector<int16_t> left;
  for (size_t f = 0; f < recorder.Frames(); ++f) {
    if (recorder.At(f, 0) == 0 && recorder.At(f, 1) == 0) continue;
    left.push_back(recorder.At(f, 0));
    ASSERT_EQ(recorder.At(f, 1), -recorder.At(f, 0)) << "frame " << f;
  }
  ASSERT_EQ(left.size(), size_t(kTotal) * shape.bufferFrames);
  for (size_t i = 0; i < left.size(); ++i)
    ASSERT_EQ(left[i], int16_t(i + 1)) << "played frame " << i;
  EXPECT_EQ(recorder.At(recorder.Frames() - 1, 0), 0);

  for (WaveHeader& header : buffers.headers)
    EXPECT_EQ(api.UnprepareHeader(device, &header), kWaveOk);
  EXPECT_EQ(api.Close(device), kWaveOk);
}

INSTANTIATE_TEST_SUITE_P(Periods, WaveOutJackTest,
                         ::testing::Values(Shape{256, 1000}, Shape{2048, 1024}, Shape{8192, 1024}),
                         [](const ::testing::TestParamInfo<Shape>& shape) {
                           return "Period" + std::to_string(shape.param.period) + "Buffer" +
                                  std::to_string(shape.param.bufferFrames);
                         });

// Header bookkeeping, reset and close, through the device the mapper picks.
TEST(WaveOutJack, ResetReturnsEveryQueuedBufferAndCloseWaitsForThem) {
  JackServer server(256);
  ASSERT_TRUE(server.Ready());
  WaveOutApi& api = NativeWaveOutApi();
  char name[32];
  ASSERT_GE(api.GetNumDevs(), 1u);
  ASSERT_EQ(api.GetDeviceName(0, name), kWaveOk);
  EXPECT_STREQ(name, "JACK: system");

  Notifications notifications;
  WaveOutHandle device = 0;
  ASSERT_EQ(api.Open(&device, kWaveMapper, notifications.Window()), kWaveOk);
  ASSERT_TRUE(
      notifications.PumpUntil([&] { return notifications.Count(kMessageWaveOutOpen) == 1; }));

  Buffers buffers(api, 4, 1024);
  WaveHeader* h = buffers.headers.data();
  EXPECT_EQ(api.Write(device, &h[0]), kWaveUnprepared);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(api.PrepareHeader(device, &h[i]), kWaveOk);
    EXPECT_EQ(h[i].flags, kWaveHeaderPrepared);
  }
  EXPECT_EQ(api.UnprepareHeader(device, &h[3]), kWaveOk);
  EXPECT_EQ(h[3].flags, 0u);
  ASSERT_EQ(api.PrepareHeader(device, &h[3]), kWaveOk);

  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(api.Write(device, &h[i]), kWaveOk);
    EXPECT_EQ(h[i].flags, kWaveHeaderPrepared | kWaveHeaderInQueue);
  }
  EXPECT_EQ(api.Write(device, &h[0]), kWaveStillPlaying);
  EXPECT_EQ(api.UnprepareHeader(device, &h[0]), kWaveStillPlaying);
  EXPECT_EQ(api.Close(device), kWaveStillPlaying);

  // Reset hands every buffer back before it returns, whatever had played.
  ASSERT_EQ(api.Reset(device), kWaveOk);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(h[i].flags, kWaveHeaderPrepared | kWaveHeaderDone) << i;
  uint32_t position = 99;
  bool isSamples = false;
  EXPECT_EQ(api.GetPosition(device, &position, &isSamples), kWaveOk);
  EXPECT_EQ(position, 0u);
  ASSERT_TRUE(
      notifications.PumpUntil([&] { return notifications.Count(kMessageWaveOutDone) == 4; }));
  std::vector<uintptr_t> order;
  for (const Posted& p : notifications.received)
    if (p.message == kMessageWaveOutDone)
      order.push_back(reinterpret_cast<WaveHeader*>(p.lParam)->user);
  EXPECT_EQ(order, (std::vector<uintptr_t>{0, 1, 2, 3}));

  // The device plays on after a reset.
  ASSERT_EQ(api.Write(device, &h[2]), kWaveOk);
  ASSERT_TRUE(
      notifications.PumpUntil([&] { return notifications.Count(kMessageWaveOutDone) == 5; }));
  EXPECT_EQ(reinterpret_cast<WaveHeader*>(notifications.received.back().lParam), &h[2]);
  EXPECT_EQ(api.GetPosition(device, &position, &isSamples), kWaveOk);
  EXPECT_EQ(position, 1024u);

  for (int i = 0; i < 4; ++i) EXPECT_EQ(api.UnprepareHeader(device, &h[i]), kWaveOk);
  ASSERT_EQ(api.Close(device), kWaveOk);
  ASSERT_TRUE(
      notifications.PumpUntil([&] { return notifications.Count(kMessageWaveOutClose) == 1; }));
  EXPECT_EQ(notifications.received.back().wParam, device);
  EXPECT_EQ(api.GetPosition(device, &position, &isSamples), kWaveInvalidHandle);
  EXPECT_FALSE(isSamples);
  EXPECT_EQ(api.Write(device, &h[0]), kWaveInvalidHandle);
  EXPECT_EQ(api.Close(device), kWaveInvalidHandle);
}

// A server at another rate than 44100: the device converts. A 1 kHz tone
// queued at 44100 comes out at the server's rate with the same pitch and
// level, one line tells the conversion, and the position counts the buffers'
// own frames.
TEST(WaveOutJack, ConvertsToTheServersRate) {
  LogCapture log;
  JackServer server(256, 48000);
  ASSERT_TRUE(server.Ready()) << "the JACK server did not start";
  WaveOutApi& api = NativeWaveOutApi();
  const uint32_t id = FindDevice(api, "JACK: system");
  ASSERT_LT(id, api.GetNumDevs());
  JackRecorder recorder(48000 * 4);
  ASSERT_TRUE(recorder.Ok());
  Notifications notifications;
  WaveOutHandle device = 0;
  ASSERT_EQ(api.Open(&device, id, notifications.Window()), kWaveOk);
  EXPECT_EQ(
      log.Starting("Wave out: "),
      std::vector<std::string>{"Wave out: converting from 44100 Hz to the device's 48000 Hz"});
  ASSERT_TRUE(
      notifications.PumpUntil([&] { return notifications.Count(kMessageWaveOutOpen) == 1; }));
  ASSERT_TRUE(recorder.Connect("Pelvane:outport 0", "Pelvane:outport 1"));

  const int kTotal = 40;
  Buffers buffers(api, 4, 1024);
  int queued = 0;
  auto fillAndQueue = [&](WaveHeader* header) {
    int16_t* samples = reinterpret_cast<int16_t*>(header->data);
    for (uint32_t i = 0; i < 1024; ++i) {
      const double t = double(queued * 1024 + i) / 44100.0;
      samples[2 * i] = samples[2 * i + 1] =
          static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * 1000 * t)));
    }
    ++queued;
    EXPECT_EQ(api.Write(device, header), kWaveOk);
  };
  for (WaveHeader& header : buffers.headers) ASSERT_EQ(api.PrepareHeader(device, &header), kWaveOk);
  for (WaveHeader& header : buffers.headers) fillAndQueue(&header);
  notifications.onDone = [&](WaveHeader* header) {
    if (queued < kTotal) fillAndQueue(header);
  };
  ASSERT_TRUE(notifications.PumpUntil(
      [&] { return notifications.Count(kMessageWaveOutDone) == size_t(kTotal); }));
  const size_t doneAt = recorder.Frames();
  ASSERT_TRUE(notifications.PumpUntil([&] { return recorder.Frames() >= doneAt + 4096; }));
  uint32_t position = 0;
  bool isSamples = false;
  EXPECT_EQ(api.GetPosition(device, &position, &isSamples), kWaveOk);
  EXPECT_EQ(position, uint32_t(kTotal * 1024));

  // Rising zero crossings and peaks over the tone's steady middle.
  size_t first = 0, last = 0;
  for (size_t f = 0; f < recorder.Frames(); ++f)
    if (recorder.At(f, 0) != 0) (first == 0 ? first : last) = f;
  ASSERT_GT(last, first + 20000);
  int peak = 0;
  double firstCrossing = -1, lastCrossing = -1;
  int crossings = 0;
  for (size_t f = first + 2000; f < last - 2000; ++f) {
    peak = std::max(peak, std::abs(int(recorder.At(f, 0))));
    EXPECT_EQ(recorder.At(f, 1), recorder.At(f, 0));
    const int a = recorder.At(f - 1, 0), b = recorder.At(f, 0);
    if (a < 0 && b >= 0) {
      const double at = double(f - 1) + double(-a) / double(b - a);
      if (firstCrossing < 0) firstCrossing = at;
      lastCrossing = at;
      ++crossings;
    }
  }
  EXPECT_NEAR((crossings - 1) * 48000.0 / (lastCrossing - firstCrossing), 1000.0, 0.5);
  EXPECT_NEAR(peak, 16000, 40);

  for (WaveHeader& header : buffers.headers)
    EXPECT_EQ(api.UnprepareHeader(device, &header), kWaveOk);
  EXPECT_EQ(api.Close(device), kWaveOk);
}

// Lines that begin with prefix, once there are count of them (or after ten seconds).
std::vector<std::string> AwaitLines(LogCapture& log, const std::string& prefix, size_t count) {
  for (int waited = 0; waited < 10000 && log.Starting(prefix).size() < count; waited += 10)
    SleepMs(10);
  return log.Starting(prefix);
}

// The JACK server goes away under a running Mixer: one line says so, Stop
// completes, and a later Start on a server that is back plays again.
TEST(WaveOutJack, ServerThatGoesAwayIsToldAndALaterStartPlays) {
  LogCapture log;
  auto server = std::make_unique<JackServer>(256);
  ASSERT_TRUE(server->Ready()) << "the JACK server did not start";
  auto mixer = std::make_unique<Mixer>(FindDevice(NativeWaveOutApi(), "JACK: system"));
  ASSERT_TRUE(log.WaitFor("Wave out opened"));
  server.reset();
  const std::vector<std::string> lost = AwaitLines(log, "Wave out lost: ", 1);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].rfind("Wave out lost: the JACK server has gone away (", 0), 0u) << lost[0];
  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();
  mixer.reset();

  JackServer again(256);
  ASSERT_TRUE(again.Ready()) << "the JACK server did not start again";
  JackRecorder recorder(44100 * 4);
  ASSERT_TRUE(recorder.Ok());
  log.Clear();
  mixer = std::make_unique<Mixer>(FindDevice(NativeWaveOutApi(), "JACK: system"));
  ASSERT_TRUE(log.WaitFor("Wave out opened"));
  // Playing: the buffers keep coming back and going out.
  uint32_t position = 0;
  bool isSamples = false;
  for (int waited = 0; waited < 10000 && position < 8 * 1024; waited += 10) {
    SleepMs(10);
    mixer->Lock();
    NativeWaveOutApi().GetPosition(MixerPeer::WaveOut(*mixer), &position, &isSamples);
    mixer->Unlock();
  }
  EXPECT_GE(position, 8u * 1024);
  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();
  EXPECT_TRUE(log.Starting("Wave out lost: ").empty());
}

// After the server went away, a client closed while another thread keeps
// opening clients: no open makes libjack free the client under its close
// (the program once crashed there, in jack_deactivate, when a Start opened
// the MIDI input while the device watch closed its client).
TEST(JackClientLoss, ACloseBesideOpensAfterTheServerWentCompletes) {
  for (int round = 0; round < 5; ++round) {
    auto server = std::make_unique<JackServer>(256);
    ASSERT_TRUE(server->Ready()) << "the JACK server did not start";
    std::unique_ptr<JackClient> client = JackClient::Open("pvtest-closing", nullptr);
    ASSERT_NE(nullptr, client);
    client->With([](jack_client_t* raw) { jack_activate(raw); });
    server.reset();
    for (int waited = 0; waited < 10000 && !client->Gone(); waited += 10) SleepMs(10);
    ASSERT_TRUE(client->Gone());
    std::atomic<bool> closed{false};
    std::thread opener([&] {
      while (!closed.load()) EXPECT_EQ(nullptr, JackClient::Open("pvtest-opening", nullptr));
    });
    EXPECT_TRUE(client->Close());
    closed.store(true);
    opener.join();
  }
}

// With every descriptor of the process in use, a client that cannot be
// opened says so, not that no server runs. (Through a real open libjack
// retries its shared registry for ten seconds first.)
TEST(JackClientFailure, OutOfDescriptorsIsToldAsSuch) {
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit lowered = saved;
  lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 1024);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  std::vector<int> taken;
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
  const int error = errno;
  const std::string full = JackClient::OpenFailure(JackStatus(JackFailure | JackServerFailed));
  for (int fd : taken) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_EQ(error, EMFILE);
  EXPECT_EQ(full, "JACK: Too many open files");
  EXPECT_EQ(JackClient::OpenFailure(JackStatus(JackFailure | JackServerFailed)),
            "JACK: no server is running");
}

}  // namespace

// Without a server JACK is not listed, and looking for one starts none. Every
// name says which audio system carries it and fits the 31 characters of a
// device name.
TEST(WaveOutDevices, NoJackServerMeansNoJackDeviceAndNoServerStarted) {
  std::string name = "pelvane-absent-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  unsetenv("JACK_NO_START_SERVER");
  WaveOutApi& api = NativeWaveOutApi();
  uint32_t count = api.GetNumDevs();
  for (uint32_t id = 0; id < count; ++id) {
    char device[32];
    ASSERT_EQ(api.GetDeviceName(id, device), kWaveOk);
    std::string shown = device;
    EXPECT_LE(shown.size(), 31u);
    EXPECT_TRUE(shown.rfind("PulseAudio: ", 0) == 0 || shown.rfind("ALSA: ", 0) == 0) << shown;
  }
  char device[32] = "x";
  EXPECT_EQ(api.GetDeviceName(count, device), kWaveBadDeviceId);
  EXPECT_STREQ(device, "");
  jack_status_t status;
  jack_client_t* client = jack_client_open("probe", JackNoStartServer, &status);
  EXPECT_EQ(client, nullptr);
  if (client) jack_client_close(client);
}
