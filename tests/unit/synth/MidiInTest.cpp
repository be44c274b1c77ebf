#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "support/LogCapture.h"
#include "support/MidiInPeer.h"
#include "support/doubles/SleepMs.h"
#include "support/doubles/VirtualMidi.h"
#include "synth/MidiIn.h"

namespace {

// The handler's side: what arrived, on which thread; optionally held at the
// first message until the test lets it go.
struct Received {
  struct Message {
    uint32_t word, timeStamp, thread;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Message> messages;
  bool holdFirst = false;
  bool released = false;

  static void Handler(void* userData, uint32_t word, uint32_t timeStamp) {
    auto* self = static_cast<Received*>(userData);
    std::unique_lock<std::mutex> hold(self->mutex);
    self->messages.push_back(Message{word, timeStamp, platform::CurrentThreadId()});
    self->changed.notify_all();
    if (self->holdFirst)
      self->changed.wait_for(hold, std::chrono::seconds(10), [&] { return self->released; });
  }
  bool WaitCount(size_t count) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::seconds(10),
                            [&] { return messages.size() >= count; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(mutex);
    released = true;
    changed.notify_all();
  }
  size_t Count() {
    std::lock_guard<std::mutex> hold(mutex);
    return messages.size();
  }
};

class MidiInTest : public ::testing::Test {
 protected:
  MidiInTest() : ports_({"Keys", "Pads"}, {}) { platform::InstallMidiApi(&ports_); }
  ~MidiInTest() override { platform::InstallMidiApi(nullptr); }

  LogCapture log_;
  platform::VirtualMidi ports_;
  Received received_;
};

TEST_F(MidiInTest, DeliversABurstInArrivalOrderOnItsOwnThread) {
  MidiIn in(1, &Received::Handler, &received_);
  ASSERT_TRUE(ports_.WaitInputStarted(1, 5000));
  EXPECT_FALSE(ports_.InputOpen(0));
  const uint32_t kCount = 2000;
  uint32_t injector = 0;
  std::thread source([&] {
    injector = platform::CurrentThreadId();
    for (uint32_t i = 0; i < kCount; ++i) ports_.Inject(1, 0x00400090u | (i % 128) << 8, i * 3);
  });
  source.join();
  ASSERT_TRUE(received_.WaitCount(kCount));
  in.RequestStop();
  in.WaitStopped();
  EXPECT_TRUE(in.Ended());

  ASSERT_EQ(received_.messages.size(), kCount);
  for (uint32_t i = 0; i < kCount; ++i) {
    EXPECT_EQ(received_.messages[i].word, 0x00400090u | (i % 128) << 8);
    EXPECT_EQ(received_.messages[i].timeStamp, i * 3);
    EXPECT_EQ(received_.messages[i].thread, MidiInPeer::Thread(in).Id());
  }
  EXPECT_NE(MidiInPeer::Thread(in).Id(), injector);
  EXPECT_NE(MidiInPeer::Thread(in).Id(), platform::CurrentThreadId());

  // The open and close lines come from the device's callback, the last from
  // the MidiIn thread.
  std::vector<LogCapture::Line> lines = log_.Entries();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "Midi-In successfully opened");
  EXPECT_EQ(lines[1].text, "Midi-In successfully closed");
  EXPECT_EQ(lines[2].text, "Midi-In thread termination");
  EXPECT_EQ(lines[2].thread, MidiInPeer::Thread(in).Id());

  // WM_MIDISTOP came twice; the device was reset and closed once.
  platform::VirtualMidi::Counts counts = ports_.GetCounts();
  EXPECT_EQ(counts.inOpens, 1);
  EXPECT_EQ(counts.inStarts, 1);
  EXPECT_EQ(counts.inResets, 1);
  EXPECT_EQ(counts.inCloses, 1);
  EXPECT_EQ(counts.badHandleCalls, 0);
  EXPECT_FALSE(ports_.Inject(1, 0x90, 0));
}

TEST_F(MidiInTest, MessagesQueuedAheadOfTheStopAreHandledThoseBehindAreNot) {
  received_.holdFirst = true;
  MidiIn in(0, &Received::Handler, &received_);
  ASSERT_TRUE(ports_.WaitInputStarted(0, 5000));
  for (uint32_t i = 0; i < 10; ++i) ASSERT_TRUE(ports_.Inject(0, 0x7F0090u + (i << 8), i));
  ASSERT_TRUE(received_.WaitCount(1));
  in.RequestStop();
  // Behind WM_MIDISTOP: the device is still open, so these are posted.
  for (uint32_t i = 10; i < 15; ++i) ASSERT_TRUE(ports_.Inject(0, 0x7F0090u + (i << 8), i));
  received_.Release();
  in.WaitStopped();
  ASSERT_EQ(received_.Count(), 10u);
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(received_.messages[i].timeStamp, i);
  EXPECT_EQ(ports_.GetCounts().inCloses, 1);
}

TEST_F(MidiInTest, AStopRequestedAtOnceStillOpensClosesAndEnds) {
  // Some rounds ask before the thread made its window, some after.
  for (int round = 0; round < 100; ++round) {
    MidiIn in(0, &Received::Handler, &received_);
    in.RequestStop();
    in.WaitStopped();
    ASSERT_TRUE(in.Ended());
    EXPECT_EQ(MidiInPeer::Window(in), 0u);
  }
  platform::VirtualMidi::Counts counts = ports_.GetCounts();
  EXPECT_EQ(counts.inOpens, 100);
  EXPECT_EQ(counts.inCloses, 100);
  EXPECT_EQ(counts.badHandleCalls, 0);
  EXPECT_EQ(log_.Starting("Midi-In thread termination").size(), 100u);
  EXPECT_EQ(log_.Starting("Midi-In successfully closed").size(), 100u);
  EXPECT_EQ(received_.Count(), 0u);
}

TEST_F(MidiInTest, NoDeviceMeansAThreadThatReceivesNothingAndStopsCleanly) {
  for (int32_t id : {-1, 2}) {
    MidiIn in(id, &Received::Handler, &received_);
    EXPECT_FALSE(in.Ended());
    in.RequestStop();
    in.WaitStopped();
  }
  EXPECT_EQ(log_.Lines(),
            (std::vector<std::string>{"Midi-In thread termination", "Midi-In thread termination"}));
  EXPECT_EQ(ports_.GetCounts().inOpens, 0);
}

TEST_F(MidiInTest, AFailingOpenIsSilentAndTheInputStillStops) {
  ports_.FailInOpen(0, platform::kMidiAllocated, 5);
  MidiIn in(0, &Received::Handler, &received_);
  in.RequestStop();
  in.WaitStopped();
  EXPECT_EQ(log_.Lines(), (std::vector<std::string>{"Midi-In thread termination"}));
}

TEST_F(MidiInTest, TheWindowPassesUnknownMessagesOnAndDropsEverythingWithoutOwner) {
  MidiIn in(0, &Received::Handler, &received_);
  ASSERT_TRUE(ports_.WaitInputStarted(0, 5000));
  // A message of no meaning to the window changes nothing: input goes on.
  platform::PostToWindow(MidiInPeer::Window(in), platform::kMessageUser + 99, 1, 2);
  ASSERT_TRUE(ports_.Inject(0, 0x00403C90, 77));
  ASSERT_TRUE(received_.WaitCount(1));
  EXPECT_EQ(received_.messages[0].timeStamp, 77u);
  in.RequestStop();
  in.WaitStopped();
  EXPECT_EQ(MidiInPeer::WindowProc(0x7777, WM_MIDIDATA, 1, 2), 0);
  EXPECT_EQ(received_.Count(), 1u);
}

TEST_F(MidiInTest, WithoutItsWindowTheInputLogsOneLineOpensNothingAndStops) {
  platform::SetWindowFaults(true, 0);
  MidiIn in(0, &Received::Handler, &received_);
  in.RequestStop();
  in.WaitStopped();
  platform::SetWindowFaults(false, 0);
  EXPECT_TRUE(in.Ended());
  EXPECT_EQ(log_.Lines(),
            (std::vector<std::string>{"Midi-In: the hidden window could not be created"}));
  EXPECT_EQ(ports_.GetCounts().inOpens, 0);
}

TEST_F(MidiInTest, AStopThatCannotBePostedStillEndsTheThreadAfterTheMessageInHand) {
  received_.holdFirst = true;
  MidiIn in(0, &Received::Handler, &received_);
  ASSERT_TRUE(ports_.WaitInputStarted(0, 5000));
  for (uint32_t i = 0; i < 3; ++i) ASSERT_TRUE(ports_.Inject(0, 0x7F0090u + (i << 8), i));
  ASSERT_TRUE(received_.WaitCount(1));
  // As with a full queue: neither RequestStop's nor WaitStopped's post arrives.
  platform::SetWindowFaults(false, WM_MIDISTOP);
  in.RequestStop();
  received_.Release();
  in.WaitStopped();
  platform::SetWindowFaults(false, 0);
  EXPECT_EQ(received_.Count(), 1u);
  EXPECT_EQ(ports_.GetCounts().inCloses, 1);
  EXPECT_EQ(log_.Starting("Midi-In thread termination").size(), 1u);
}

}  // namespace
