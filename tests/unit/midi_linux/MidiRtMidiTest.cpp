// The native MIDI backend against a private JACK server (dummy driver). A
// loopback client written directly on libjack copies every event from its
// input port to its output port, so our output and our input meet through
// the real graph:
//   our MIDI Out -> pvtest-loop:in => pvtest-loop:out -> our MIDI In
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Midi.h"
#include "platform/Notice.h"
#include "platform/linux/midi/JackMidiIn.h"
#include "support/JackMidiSender.h"
#include "support/JackServer.h"

namespace {

using platform::MidiApi;
using platform::MidiInHandle;
using platform::MidiOutHandle;

// RtMidiError::Type numbers, as LastError reports them.
constexpr int kInvalidDevice = 4;
constexpr int kInvalidParameter = 6;

class LoopbackClient {
 public:
  explicit LoopbackClient(const char* name) {
    client_ = jack_client_open(name, JackNoStartServer, nullptr);
    if (!client_) return;
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &LoopbackClient::Process, this);
    jack_activate(client_);
  }
  ~LoopbackClient() { Close(); }
  void Close() {
    if (client_) jack_client_close(client_);
    client_ = nullptr;
  }
  bool ok() const { return client_ && in_ && out_; }
  std::string Name() const { return jack_get_client_name(client_); }
  size_t Forwarded() const { return forwarded_.load(std::memory_order_relaxed); }
  uint64_t Periods() const { return periods_.load(); }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<LoopbackClient*>(arg);
    void* in = jack_port_get_buffer(self->in_, frames);
    void* out = jack_port_get_buffer(self->out_, frames);
    jack_midi_clear_buffer(out);
    uint32_t count = jack_midi_get_event_count(in);
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, in, i) == 0) {
        jack_midi_event_write(out, event.time, event.buffer, event.size);
        self->forwarded_.fetch_add(1, std::memory_order_relaxed);
      }
    }
    self->periods_.fetch_add(1);
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* in_ = nullptr;
  jack_port_t* out_ = nullptr;
  std::atomic<size_t> forwarded_{0};
  std::atomic<uint64_t> periods_{0};
};

struct Received {
  uint32_t message;
  uintptr_t param1;
  uintptr_t param2;
};

// Collects what the input callback is given, from whatever thread calls it.
// Held, it keeps that thread inside the first data message until let go.
class Inbox {
 public:
  static void Callback(MidiInHandle, uint32_t message, uintptr_t instance, uintptr_t p1,
                       uintptr_t p2) {
    auto* self = reinterpret_cast<Inbox*>(instance);
    std::unique_lock<std::mutex> lock(self->mutex_);
    if (message == platform::kMidiInData && p1 == kProbe) {
      self->probes_ += 1;
      self->changed_.notify_all();
      return;
    }
    self->items_.push_back({message, p1, p2});
    self->changed_.notify_all();
    if (message == platform::kMidiInData && self->hold_) {
      self->held_ = true;
      self->changed_.notify_all();
      self->changed_.wait(lock, [&] { return !self->hold_; });
    }
  }
  void Hold() { hold_ = true; }
  // Waits (at most 10 s) until the caller's thread is held.
  bool WaitUntilHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return held_; });
  }
  void LetGo() {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = false;
    changed_.notify_all();
  }
  uintptr_t instance() { return reinterpret_cast<uintptr_t>(this); }

  // Waits (at most 10 s) until `count` data messages have come.
  std::vector<Received> WaitForData(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return DataLocked().size() >= count; });
    return DataLocked();
  }
  std::vector<Received> All() {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
  }
  // A message no test sends otherwise: counted apart, never recorded.
  static constexpr uintptr_t kProbe = 0x00007FBF;
  // Waits (at most 100 ms) for a probe to have come.
  bool WaitForProbe() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return probes_ > 0; });
  }
  std::vector<Received> Data() {
    std::lock_guard<std::mutex> lock(mutex_);
    return DataLocked();
  }

 private:
  std::vector<Received> DataLocked() const {
    std::vector<Received> data;
    for (const Received& r : items_) {
      if (r.message == platform::kMidiInData) data.push_back(r);
    }
    return data;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Received> items_;
  bool hold_ = false;
  bool held_ = false;
  size_t probes_ = 0;
};

// The lines the backend hands to the notice sink (the program's log).
class Notices {
 public:
  Notices() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.clear();
    }
    previous_ = platform::SetNoticeSink(&Notices::Record);
  }
  ~Notices() { platform::SetNoticeSink(previous_); }
  // Waits (at most 10 s) for the first line, then gives every line so far.
  std::vector<std::string> WaitForLines() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [] { return !lines_.empty(); });
    return lines_;
  }

 private:
  static void Record(const char* line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    changed_.notify_all();
  }
  platform::NoticeSink previous_ = nullptr;
  static std::mutex mutex_;
  static std::condition_variable changed_;
  static std::vector<std::string> lines_;
};
std::mutex Notices::mutex_;
std::condition_variable Notices::changed_;
std::vector<std::string> Notices::lines_;

std::vector<std::string> InNames(MidiApi& api) {
  std::vector<std::string> names;
  uint32_t count = api.InGetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    char name[32];
    EXPECT_EQ(platform::kMidiOk, api.InGetDeviceName(i, name));
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> OutNames(MidiApi& api) {
  std::vector<std::string> names;
  uint32_t count = api.OutGetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    char name[32];
    EXPECT_EQ(platform::kMidiOk, api.OutGetDeviceName(i, name));
    names.push_back(name);
  }
  return names;
}

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// Waits (at most 10 s) until the loopback has run two more periods: our
// input, behind it in the graph, has then run the period the loopback was in.
void LetPeriodsPass(const LoopbackClient& loop) {
  const uint64_t until = loop.Periods() + 2;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (loop.Periods() < until && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Waits (at most 10 s) until the loopback has passed `count` messages on, then
// until our input's client has seen the last of them.
void WaitUntilLooped(const LoopbackClient& loop, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (loop.Forwarded() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  LetPeriodsPass(loop);
}

class MidiJackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new JackServer(1024); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(server_->Ready()) << "jackd did not start";
    loop_ = std::make_unique<LoopbackClient>("pvtest-loop");
    ASSERT_TRUE(loop_->ok());
  }
  void TearDown() override { loop_.reset(); }

  // Opens our output onto the loopback's input and our input from its output.
  void OpenThroughLoopback(MidiInHandle* in, MidiOutHandle* out) {
    int inId = IndexOf(InNames(api_), "JACK: " + loop_->Name() + ":out");
    int outId = IndexOf(OutNames(api_), "JACK: " + loop_->Name() + ":in");
    ASSERT_GE(inId, 0);
    ASSERT_GE(outId, 0);
    ASSERT_EQ(platform::kMidiOk, api_.OutOpen(out, static_cast<uint32_t>(outId)))
        << "error " << api_.LastError();
    ASSERT_EQ(platform::kMidiOk,
              api_.InOpen(in, static_cast<uint32_t>(inId), &Inbox::Callback, inbox_.instance()))
        << "error " << api_.LastError();
    ASSERT_NE(0u, *in);
    ASSERT_NE(0u, *out);
  }

  // New connections join the server's graph at a cycle of its choosing, later
  // under load, and what is sent before goes nowhere: with the input started,
  // probes go round until one comes back (for ten seconds at most).
  void WaitUntilTheLoopCarries(MidiOutHandle out) {
    for (int i = 0; i < 100 && !inbox_.WaitForProbe(); ++i)
      api_.OutShortMsg(out, static_cast<uint32_t>(Inbox::kProbe));
    ASSERT_TRUE(inbox_.WaitForProbe()) << "the loop never carried a message";
  }

  static JackServer* server_;
  MidiApi& api_ = platform::NativeMidiApi();
  std::unique_ptr<LoopbackClient> loop_;
  Inbox inbox_;
};

JackServer* MidiJackTest::server_ = nullptr;

TEST_F(MidiJackTest, ListsOtherClientsPortsByDirectionWithShortJackNames) {
  LoopbackClient longName("pvtest-a-client-with-a-long-name");
  ASSERT_TRUE(longName.ok());
  std::vector<std::string> ins = InNames(api_);
  std::vector<std::string> outs = OutNames(api_);
  // Inputs are the sources (output ports), outputs the destinations.
  EXPECT_GE(IndexOf(ins, "JACK: pvtest-loop:out"), 0);
  EXPECT_LT(IndexOf(ins, "JACK: pvtest-loop:in"), 0);
  EXPECT_GE(IndexOf(outs, "JACK: pvtest-loop:in"), 0);
  EXPECT_LT(IndexOf(outs, "JACK: pvtest-loop:out"), 0);
  // Names fit the 31 characters of a device caps name, cut at the end.
  EXPECT_GE(IndexOf(ins, "JACK: pvtest-a-client-with-a-lo"), 0);
  for (const std::string& name : ins) {
    EXPECT_LE(name.size(), 31u);
    EXPECT_EQ(0u, name.rfind("JACK: ", 0)) << name;  // no ALSA sequencer here
  }
  char name[32] = "x";
  EXPECT_EQ(platform::kMidiBadDeviceId,
            api_.InGetDeviceName(static_cast<uint32_t>(ins.size()), name));
  EXPECT_STREQ("", name);
}

TEST_F(MidiJackTest, NeverListsItsOwnPorts) {
  MidiInHandle in = 0;
  MidiOutHandle out = 0;
  OpenThroughLoopback(&in, &out);
  for (const std::string& name : InNames(api_))
    EXPECT_EQ(std::string::npos, name.find("Pelvane")) << name;
  for (const std::string& name : OutNames(api_))
    EXPECT_EQ(std::string::npos, name.find("Pelvane")) << name;
  api_.InClose(in);
  api_.OutClose(out);
}

TEST_F(MidiJackTest, MessagesOfEveryLengthArriveInOrderWithRisingTimeStamps) {
  MidiInHandle in = 0;
  MidiOutHandle out = 0;
  OpenThroughLoopback(&in, &out);
  ASSERT_EQ(platform::kMidiOk, api_.InStart(in));
  WaitUntilTheLoopCarries(out);
  const std::vector<uint32_t> sent = {
      0x00643C90,  // note on
      0x00403C80,  // note off
      0x00223CA1,  // polyphonic aftertouch
      0x00500772,  // a data byte where the status belongs: refused
      0x007F40B0,  // sustain pedal down
      0x000005C3,  // program change: two bytes
      0x000045D0,  // channel aftertouch: two bytes
      0x004020E0,  // pitch bend
      0x000010F1,  // time code quarter frame: two bytes
      0x000102F2,  // song position: three bytes
      0x000003F3,  // song select: two bytes
      0x000000F6,  // tune request: one byte
      0x000000F8,  // timing clock: one byte
      0x000000FA,  // start: one byte
      0x000000FE,  // active sensing: one byte
      0xAB643C90,  // the word's high byte is not sent
  };
  std::vector<uint32_t> expected;
  for (uint32_t word : sent) {
    uint32_t result = api_.OutShortMsg(out, word);
    if ((word & 0xFF) < 0x80) {
      EXPECT_NE(platform::kMidiOk, result) << std::hex << word;
      continue;
    }
    EXPECT_EQ(platform::kMidiOk, result) << std::hex << word;
    uint32_t status = word & 0xFF;
    uint32_t mask = 0xFFFFFF;
    if (status == 0xC3 || status == 0xD0 || status == 0xF1 || status == 0xF3) mask = 0xFFFF;
    if (status == 0xF6 || status >= 0xF8) mask = 0xFF;
    expected.push_back(word & mask);
  }
  std::vector<Received> got = inbox_.WaitForData(expected.size());
  ASSERT_EQ(expected.size(), got.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(expected[i], got[i].param1) << "message " << i;
    if (i > 0) {
      EXPECT_LE(got[i - 1].param2, got[i].param2) << "message " << i;
    }
  }
  // System exclusive and its end are not short messages.
  EXPECT_NE(platform::kMidiOk, api_.OutShortMsg(out, 0x000000F0));
  EXPECT_NE(platform::kMidiOk, api_.OutShortMsg(out, 0x000000F7));
  LetPeriodsPass(*loop_);
  EXPECT_EQ(expected.size(), inbox_.Data().size());
  EXPECT_EQ(platform::kMidiOk, api_.InClose(in));
  EXPECT_EQ(platform::kMidiOk, api_.OutClose(out));
}

TEST_F(MidiJackTest, TimeStampsCountMillisecondsFromStart) {
  MidiInHandle in = 0;
  MidiOutHandle out = 0;
  OpenThroughLoopback(&in, &out);
  ASSERT_EQ(platform::kMidiOk, api_.InStart(in));
  auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  api_.OutShortMsg(out, 0x00643C90);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  api_.OutShortMsg(out, 0x00003C80);
  std::vector<Received> got = inbox_.WaitForData(2);
  auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - started)
                       .count();
  ASSERT_EQ(2u, got.size());
  // A message cannot be stamped before it was sent, nor after it arrived. How
  // far apart the two arrive depends on the load of the machine (a busy JACK
  // graph may hand both over in one period), so the spacing is not checked.
  EXPECT_GE(got[0].param2, 300u);
  EXPECT_GE(got[1].param2, 600u);
  EXPECT_LE(got[0].param2, got[1].param2);
  EXPECT_LE(got[1].param2, static_cast<uintptr_t>(elapsedMs));
  std::printf("time stamps: %u ms, %u ms (sent at 300 ms and 600 ms)\n",
              static_cast<unsigned>(got[0].param2), static_cast<unsigned>(got[1].param2));
  api_.InClose(in);
  api_.OutClose(out);
}

TEST_F(MidiJackTest, DeliversOnlyBetweenStartAndReset) {
  MidiInHandle in = 0;
  MidiOutHandle out = 0;
  OpenThroughLoopback(&in, &out);
  // Open is reported before InOpen returns, as MIM_OPEN is.
  std::vector<Received> all = inbox_.All();
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ(platform::kMidiInOpen, all[0].message);

  api_.OutShortMsg(out, 0x00403C90);  // before the start: dropped
  WaitUntilLooped(*loop_, 1);
  EXPECT_TRUE(inbox_.Data().empty());

  ASSERT_EQ(platform::kMidiOk, api_.InStart(in));
  api_.OutShortMsg(out, 0x00413C90);
  ASSERT_EQ(1u, inbox_.WaitForData(1).size());

  ASSERT_EQ(platform::kMidiOk, api_.InReset(in));
  api_.OutShortMsg(out, 0x00423C90);  // after the reset: dropped
  WaitUntilLooped(*loop_, 3);

  ASSERT_EQ(platform::kMidiOk, api_.InStart(in));
  api_.OutShortMsg(out, 0x00433C90);
  std::vector<Received> data = inbox_.WaitForData(2);
  ASSERT_EQ(2u, data.size());
  EXPECT_EQ(0x00413C90u, data[0].param1);
  EXPECT_EQ(0x00433C90u, data[1].param1);

  EXPECT_EQ(platform::kMidiOk, api_.InClose(in));
  api_.OutShortMsg(out, 0x00443C90);  // after the close: nothing more arrives
  WaitUntilLooped(*loop_, 5);
  all = inbox_.All();
  ASSERT_EQ(4u, all.size());
  EXPECT_EQ(platform::kMidiInClose, all.back().message);

  // The handles are gone.
  EXPECT_EQ(platform::kMidiInvalidHandle, api_.InStart(in));
  EXPECT_EQ(platform::kMidiInvalidHandle, api_.InClose(in));
  EXPECT_EQ(platform::kMidiOk, api_.OutClose(out));
  EXPECT_EQ(platform::kMidiInvalidHandle, api_.OutShortMsg(out, 0x00443C90));
  EXPECT_EQ(platform::kMidiInvalidHandle, api_.OutClose(out));
}

// The echo output is sent to on the MIDI input's thread while Stop closes it
// on the user interface thread: every send before the close goes out whole,
// and every send after it is refused without touching the released port.
TEST_F(MidiJackTest, SendsRacingACloseNeverReachTheReleasedPort) {
  MidiInHandle in = 0;
  MidiOutHandle out = 0;
  OpenThroughLoopback(&in, &out);
  ASSERT_EQ(platform::kMidiOk, api_.InStart(in));
  WaitUntilTheLoopCarries(out);
  std::atomic<uint32_t> sentOk{0};
  std::atomic<bool> refused{false};
  // Sends until the close refuses it (for a minute at most). Every 16
  // messages it waits for the echoes of all but the latest 16, so however
  // slowly the graph runs, the port's buffer never fills and the sender is
  // still sending when the close comes.
  std::thread sender([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (uint32_t i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
      uint32_t result = api_.OutShortMsg(out, 0x00003CA0 | ((i & 0x7F) << 16));
      if (result == platform::kMidiInvalidHandle) {
        refused = true;
        return;
      }
      if (result == platform::kMidiOk) ++sentOk;
      if (i % 16 == 15 && sentOk.load() > 16) inbox_.WaitForData(sentOk.load() - 16);
    }
  });
  while (sentOk.load() < 50) std::this_thread::yield();
  EXPECT_EQ(platform::kMidiOk, api_.OutClose(out));
  sender.join();
  EXPECT_TRUE(refused.load());
  // What went out before the close arrives, every message in order.
  std::vector<Received> got = inbox_.WaitForData(sentOk.load());
  EXPECT_GE(got.size(), 50u);
  EXPECT_EQ(sentOk.load(), got.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(0x00003CA0u | ((i & 0x7F) << 16), got[i].param1) << "message " << i;
  }
  api_.InClose(in);
}

// The input's thread is held in the first message while a sender floods the
// port: the queue keeps exactly its capacity, the rest is counted and told in
// one line once the queue has drained, and what was kept comes in order.
TEST_F(MidiJackTest, AFullQueueKeepsItsMessagesInOrderAndTellsHowManyWereLost) {
  constexpr size_t kLost = 100;
  const size_t total = 1 + platform::JackMidiIn::kQueueCapacity + kLost;
  std::vector<uint32_t> words;
  for (size_t i = 0; i < total; ++i) words.push_back(JackMidiSender::Numbered(i));
  JackMidiSender sender("pvtest-send", words, 200);
  ASSERT_TRUE(sender.ok());
  int id = IndexOf(InNames(api_), "JACK: " + sender.PortName());
  ASSERT_GE(id, 0);
  Notices notices;
  MidiInHandle in = 0;
  inbox_.Hold();
  ASSERT_EQ(platform::kMidiOk,
            api_.InOpen(&in, static_cast<uint32_t>(id), &Inbox::Callback, inbox_.instance()));
  ASSERT_EQ(platform::kMidiOk, api_.InStart(in));
  ASSERT_TRUE(sender.WaitUntilConnected());
  sender.Release(1);
  ASSERT_TRUE(inbox_.WaitUntilHeld());
  sender.Release(total);
  ASSERT_TRUE(sender.WaitUntilSentAndPassed(3));
  inbox_.LetGo();

  std::vector<std::string> lines = notices.WaitForLines();
  EXPECT_EQ(lines,
            std::vector<std::string>{"Midi-In: the input queue was full, 100 messages lost"});
  std::vector<Received> got = inbox_.Data();
  ASSERT_EQ(total - kLost, got.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(words[i], got[i].param1) << "message " << i;
  EXPECT_EQ(platform::kMidiOk, api_.InClose(in));
}

// Every event goes out as three bytes: a running-status fragment and a
// program change of three bytes are no whole short message.
TEST_F(MidiJackTest, EventsThatAreNoWholeShortMessageAreCountedAndTold) {
  const std::vector<uint32_t> words = {JackMidiSender::Numbered(0), 0x00003C40, 0x000005C0,
                                       JackMidiSender::Numbered(1)};
  JackMidiSender sender("pvtest-broken", words, 4);
  ASSERT_TRUE(sender.ok());
  int id = IndexOf(InNames(api_), "JACK: " + sender.PortName());
  ASSERT_GE(id, 0);
  Notices notices;
  MidiInHandle in = 0;
  ASSERT_EQ(platform::kMidiOk,
            api_.InOpen(&in, static_cast<uint32_t>(id), &Inbox::Callback, inbox_.instance()));
  ASSERT_EQ(platform::kMidiOk, api_.InStart(in));
  ASSERT_TRUE(sender.WaitUntilConnected());
  sender.Release(words.size());
  ASSERT_TRUE(sender.WaitUntilSentAndPassed(3));
  EXPECT_EQ(notices.WaitForLines(),
            std::vector<std::string>{
                "Midi-In: 2 JACK MIDI events were not one whole short message, dropped"});
  std::vector<Received> got = inbox_.WaitForData(2);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(words[0], got[0].param1);
  EXPECT_EQ(words[3], got[1].param1);
  EXPECT_EQ(platform::kMidiOk, api_.InClose(in));
}

// A source that was listed and left before the open: one line says so.
TEST_F(MidiJackTest, AnInputThatCannotBeOpenedIsToldInOneLine) {
  LoopbackClient gone("pvtest-left");
  ASSERT_TRUE(gone.ok());
  int id = IndexOf(InNames(api_), "JACK: pvtest-left:out");
  ASSERT_GE(id, 0);
  gone.Close();
  Notices notices;
  MidiInHandle in = 1;
  EXPECT_EQ(platform::kMidiError,
            api_.InOpen(&in, static_cast<uint32_t>(id), &Inbox::Callback, inbox_.instance()));
  EXPECT_EQ(0u, in);
  EXPECT_EQ(notices.WaitForLines(),
            std::vector<std::string>{
                "Midi-In: cannot open 'JACK: pvtest-left:out': JACK: the port is gone"});
}

TEST_F(MidiJackTest, FailedOpensSayWhy) {
  uint32_t outCount = api_.OutGetNumDevs();
  MidiOutHandle out = 1;
  EXPECT_EQ(platform::kMidiBadDeviceId, api_.OutOpen(&out, outCount));
  EXPECT_EQ(0u, out);
  EXPECT_EQ(kInvalidParameter, api_.LastError());

  MidiInHandle in = 1;
  EXPECT_EQ(platform::kMidiBadDeviceId,
            api_.InOpen(&in, 0xFFFFFFFFu, &Inbox::Callback, inbox_.instance()));
  EXPECT_EQ(0u, in);
  EXPECT_TRUE(inbox_.All().empty());

  // A port that was listed and has gone since.
  LoopbackClient gone("pvtest-gone");
  ASSERT_TRUE(gone.ok());
  int goneId = IndexOf(OutNames(api_), "JACK: pvtest-gone:in");
  ASSERT_GE(goneId, 0);
  gone.Close();
  EXPECT_EQ(platform::kMidiError, api_.OutOpen(&out, static_cast<uint32_t>(goneId)));
  EXPECT_EQ(0u, out);
  EXPECT_EQ(kInvalidDevice, api_.LastError());
}

TEST(MidiNoServerTest, ListsNothingAndSaysNothingWithoutAServer) {
  std::string saved = std::getenv("JACK_DEFAULT_SERVER") ? std::getenv("JACK_DEFAULT_SERVER") : "";
  setenv("JACK_DEFAULT_SERVER", ("pvtest-none-" + std::to_string(getpid())).c_str(), 1);
  MidiApi& api = platform::NativeMidiApi();
  ::testing::internal::CaptureStderr();
  uint32_t ins = api.InGetNumDevs();
  uint32_t outs = api.OutGetNumDevs();
  MidiOutHandle out = 1;
  uint32_t result = api.OutOpen(&out, 0);
  std::string printed = ::testing::internal::GetCapturedStderr();
  setenv("JACK_DEFAULT_SERVER", saved.c_str(), 1);
  EXPECT_EQ(0u, ins);
  EXPECT_EQ(0u, outs);
  EXPECT_EQ(platform::kMidiBadDeviceId, result);
  EXPECT_EQ("", printed);
}

// The same input closed and opened again delivers again: the close that
// ended its relay thread does not carry over to the next open.
TEST_F(MidiJackTest, AReopenedJackInputDeliversAgain) {
  std::vector<uint32_t> words;
  for (size_t i = 0; i < 4; ++i) words.push_back(JackMidiSender::Numbered(i));
  JackMidiSender sender("pvtest-reopen", words, 1);
  ASSERT_TRUE(sender.ok());
  struct Got {
    std::mutex mutex;
    std::vector<uint32_t> words;
  } got;
  platform::JackMidiIn in(
      [](void* context, uint32_t word, uint32_t) {
        auto* into = static_cast<Got*>(context);
        std::lock_guard<std::mutex> hold(into->mutex);
        into->words.push_back(word);
      },
      &got);
  for (size_t round = 1; round <= 2; ++round) {
    ASSERT_EQ(in.Open("pvtest-reopened", sender.PortName()), platform::JackMidiIn::OpenResult::kOk);
    in.Start();
    ASSERT_TRUE(sender.WaitUntilConnected());
    sender.Release(2 * round);
    ASSERT_TRUE(sender.WaitUntilSentAndPassed(3));
    in.Reset();
    in.Close();
    std::lock_guard<std::mutex> hold(got.mutex);
    ASSERT_EQ(got.words, std::vector<uint32_t>(words.begin(), words.begin() + long(2 * round)));
  }
}

}  // namespace
