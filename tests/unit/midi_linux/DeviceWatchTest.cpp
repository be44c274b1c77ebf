// The device watch on real servers started by the tests: a private JACK
// server (dummy driver) and a private PulseAudio server. The messages are
// posted to a window of the test's thread and counted as it dispatches them.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/DeviceWatch.h"
#include "platform/Midi.h"
#include "platform/WaveOut.h"
#include "platform/Window.h"
#include "platform/linux/MessageQueue.h"
#include "platform/linux/watch/DeviceSources.h"
#include "support/JackMidiSender.h"
#include "support/JackServer.h"
#include "support/TempFolder.h"

namespace {

using namespace std::chrono_literals;

class ChangeCounter {
 public:
  ChangeCounter() {
    window_ = platform::CreateMessageWindow("device changes");
    platform::SetWindowProcedure(window_, &ChangeCounter::Procedure);
  }
  ~ChangeCounter() { platform::DestroyMessageWindow(window_); }
  platform::WindowHandle window() const { return window_; }

  // Dispatches the thread's messages for `span`, or until `until` device
  // changes have come; gives the number that came.
  int Pump(std::chrono::milliseconds span, int until = INT_MAX) {
    s_count = 0;
    auto deadline = std::chrono::steady_clock::now() + span;
    while (s_count < until && std::chrono::steady_clock::now() < deadline) {
      bool quit = false;
      if (!platform::PeekAndDispatchMessage(&quit)) std::this_thread::sleep_for(5ms);
    }
    return s_count;
  }

 private:
  static intptr_t Procedure(platform::WindowHandle, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) {
    if (message == platform::kMessageDeviceChange) {
      EXPECT_EQ(platform::kDeviceNodesChanged, wParam);
      EXPECT_EQ(0, lParam);
      ++s_count;
    }
    return 0;
  }
  static int s_count;
  platform::WindowHandle window_ = 0;
};
int ChangeCounter::s_count = 0;

int IndexOfInput(platform::MidiApi& api, const std::string& name) {
  uint32_t count = api.InGetNumDevs();
  for (uint32_t id = 0; id < count; ++id) {
    char text[32];
    if (api.InGetDeviceName(id, text) == platform::kMidiOk && name == text)
      return static_cast<int>(id);
  }
  return -1;
}

TEST(DeviceWatchJackTest, OtherClientsPostOncePerBurstOursNever) {
  JackServer server(1024);
  ASSERT_TRUE(server.Ready()) << "jackd did not start";
  JackMidiSender keys("pvtest-keys", {}, 1);
  ASSERT_TRUE(keys.ok());
  ChangeCounter changes;
  platform::DeviceWatch watch(changes.window());

  // What a Start does: listings, our MIDI input's client and port, the wave
  // output's client and ports. None of it is another program's device.
  platform::MidiApi& midi = platform::NativeMidiApi();
  platform::WaveOutApi& wave = platform::NativeWaveOutApi();
  int keysId = IndexOfInput(midi, "JACK: pvtest-keys:out");
  ASSERT_GE(keysId, 0);
  platform::MidiInHandle in = 0;
  ASSERT_EQ(platform::kMidiOk,
            midi.InOpen(
                &in, static_cast<uint32_t>(keysId),
                [](platform::MidiInHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t) {}, 0));
  ASSERT_GE(wave.GetNumDevs(), 1u);
  platform::WaveOutHandle out = 0;
  ASSERT_EQ(platform::kWaveOk, wave.Open(&out, 0, changes.window()));
  EXPECT_EQ(0, changes.Pump(1500ms));

  // Another client and its sixteen ports, registered back to back: one burst.
  jack_client_t* other = jack_client_open("pvtest-other", JackNoStartServer, nullptr);
  ASSERT_NE(nullptr, other);
  auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 16; ++i) {
    std::string name = "midi_" + std::to_string(i);
    ASSERT_NE(nullptr,
              jack_port_register(other, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0));
  }
  std::printf("16 ports registered in %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - started)
                                         .count()));
  EXPECT_EQ(1, changes.Pump(10s, 1));
  EXPECT_EQ(0, changes.Pump(1s));
  jack_client_close(other);
  EXPECT_EQ(1, changes.Pump(10s, 1));

  // Our own ports going are no change either.
  EXPECT_EQ(platform::kWaveOk, wave.Close(out));
  EXPECT_EQ(platform::kMidiOk, midi.InClose(in));
  EXPECT_EQ(0, changes.Pump(1500ms));
}

// The clients that register on the server while it lives, by name.
class ClientSpy {
 public:
  ClientSpy() {
    client_ = jack_client_open("pvtest-spy", JackNoStartServer, nullptr);
    if (client_ == nullptr) return;
    jack_set_client_registration_callback(client_, &ClientSpy::OnClient, this);
    jack_activate(client_);
  }
  ~ClientSpy() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  int Count(const std::string& name) {
    std::lock_guard<std::mutex> hold(mutex_);
    int count = 0;
    for (const std::string& seen : names_) count += seen == name;
    return count;
  }
  bool ok() const { return client_ != nullptr; }

 private:
  static void OnClient(const char* name, int registered, void* self) {
    auto* spy = static_cast<ClientSpy*>(self);
    std::lock_guard<std::mutex> hold(spy->mutex_);
    if (registered) spy->names_.emplace_back(name);
  }
  jack_client_t* client_ = nullptr;
  std::mutex mutex_;
  std::vector<std::string> names_;
};

TEST(DeviceWatchJackTest, TheWatchListsThroughItsClientAndTheWindowReadsItsListing) {
  JackServer server(1024);
  ASSERT_TRUE(server.Ready()) << "jackd did not start";
  ClientSpy spy;
  ASSERT_TRUE(spy.ok());
  ChangeCounter changes;
  platform::DeviceWatch watch(changes.window());
  platform::MidiApi& midi = platform::NativeMidiApi();
  platform::WaveOutApi& wave = platform::NativeWaveOutApi();

  JackMidiSender late("pvtest-late", {}, 1);
  ASSERT_TRUE(late.ok());
  ASSERT_EQ(1, changes.Pump(10s, 1));
  // The window's refill, after the message: the new source is there, and
  // none of the three calls asks the server for anything.
  EXPECT_GE(IndexOfInput(midi, "JACK: pvtest-late:out"), 0);
  wave.GetNumDevs();
  midi.OutGetNumDevs();
  // The server tells the spy of clients in the order they came: once the
  // last one is seen, every one before it was.
  jack_client_t* last = jack_client_open("pvtest-last", JackNoStartServer, nullptr);
  ASSERT_NE(nullptr, last);
  for (int i = 0; i < 1000 && spy.Count("pvtest-last") == 0; ++i) std::this_thread::sleep_for(5ms);
  jack_client_close(last);
  ASSERT_EQ(1, spy.Count("pvtest-late"));
  EXPECT_EQ(0, spy.Count("Pelvane list"));
}

// pulseaudio -n with only the native protocol, in a folder of its own, made
// the server of this process (PULSE_SERVER); stopped with SIGTERM.
class PulseServer {
 public:
  explicit PulseServer(const std::string& folder) {
    std::string runtime = folder + "/xdg";
    mkdir(runtime.c_str(), 0700);
    setenv("HOME", folder.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + runtime + "/pulse/native").c_str(), 1);
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(1);
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
             "--disallow-exit", "--load=module-native-protocol-unix", nullptr);
      _exit(127);
    }
    for (int tries = 0; pid_ > 0 && tries < 100 && !ready_; ++tries) {
      ready_ = std::system("pactl info >/dev/null 2>&1") == 0;
      if (!ready_) std::this_thread::sleep_for(100ms);
    }
  }
  ~PulseServer() { Stop(); }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  bool Ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

TEST(DeviceWatchPulseTest, ASinkThatComesOrGoesAndTheServerGoingPostOnceEach) {
  TempFolder folder;
  PulseServer pulse(std::filesystem::current_path().string());
  ASSERT_TRUE(pulse.Ready()) << "pulseaudio did not start";
  ChangeCounter changes;
  platform::DeviceWatch watch(changes.window());
  EXPECT_EQ(0, changes.Pump(500ms));  // connecting to the server is no change

  ASSERT_EQ(0, std::system("pactl load-module module-null-sink sink_name=pvtest >module.txt"));
  EXPECT_EQ(1, changes.Pump(10s, 1));
  ASSERT_EQ(0, std::system("pactl unload-module $(cat module.txt)"));
  EXPECT_EQ(1, changes.Pump(10s, 1));
  EXPECT_EQ(0, changes.Pump(500ms));
  pulse.Stop();
  EXPECT_EQ(1, changes.Pump(10s, 1));
}

// A source whose changes are never announced: what it describes is read again
// every two seconds, so a change whose sign was lost is listed all the same.
class SilentSource : public platform::DeviceSource {
 public:
  static std::mutex s_mutex;
  static std::string s_state;
  bool Connect() override { return true; }
  void Describe(std::string* state) override {
    std::lock_guard<std::mutex> hold(s_mutex);
    state->append(s_state);
  }
};
std::mutex SilentSource::s_mutex;
std::string SilentSource::s_state;

TEST(DeviceWatchTest, AChangeWhoseSignWasLostIsListedWithinSeconds) {
  platform::SetDeviceSourceMaker([](platform::DeviceSource::Wake, void*) {
    std::vector<std::unique_ptr<platform::DeviceSource>> sources;
    sources.push_back(std::make_unique<SilentSource>());
    return sources;
  });
  {
    ChangeCounter changes;
    platform::DeviceWatch watch(changes.window());
    EXPECT_EQ(0, changes.Pump(2500ms));  // described again, and unchanged
    {
      std::lock_guard<std::mutex> hold(SilentSource::s_mutex);
      SilentSource::s_state = "jack pvtest-unannounced:in_1\n";
    }
    EXPECT_EQ(1, changes.Pump(10s, 1));
  }
  platform::SetDeviceSourceMaker(nullptr);
}

}  // namespace
