#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/LogCapture.h"
#include "support/doubles/VirtualMidi.h"
#include "synth/MidiOut.h"

namespace {

class MidiOutTest : public ::testing::Test {
 protected:
  MidiOutTest() : ports_({"In A"}, {"Out A", "Out B"}) { platform::InstallMidiApi(&ports_); }
  ~MidiOutTest() override { platform::InstallMidiApi(nullptr); }

  LogCapture log_;
  platform::VirtualMidi ports_;
};

TEST_F(MidiOutTest, EchoesEveryWordUnchangedAndLogsEachPhaseOnce) {
  auto* out = new MidiOut(1);
  EXPECT_EQ(out->deviceId, 1);
  EXPECT_TRUE(ports_.OutputOpen(1));
  EXPECT_FALSE(ports_.OutputOpen(0));
  // Note on, aftertouch, pitch bend, a system message, a word with a high byte.
  for (uint32_t word : {0x00643C90u, 0x00203CA0u, 0x007F00E0u, 0x000000F8u, 0xAB123456u})
    EXPECT_EQ(out->Send(word), platform::kMidiOk);
  EXPECT_EQ(ports_.Sent(1), (std::vector<uint32_t>{0x00643C90u, 0x00203CA0u, 0x007F00E0u,
                                                   0x000000F8u, 0xAB123456u}));

  out->ScheduleShutdown();
  EXPECT_FALSE(ports_.OutputOpen(1));
  // A send after the close has no effect and reaches no handle.
  EXPECT_NE(out->Send(0x00403C80), platform::kMidiOk);
  out->Shutdown();
  delete out;

  EXPECT_EQ(ports_.Sent(1).size(), 5u);
  EXPECT_EQ(log_.Lines(),
            (std::vector<std::string>{"MidiOut: ScheduleShutdown()", "MidiOut: Shut down"}));
  platform::VirtualMidi::Counts counts = ports_.GetCounts();
  EXPECT_EQ(counts.outOpens, 1);
  EXPECT_EQ(counts.outCloses, 1);
  EXPECT_EQ(counts.badHandleCalls, 0);
}

TEST_F(MidiOutTest, AFailedOpenLogsTheBackendsNumbersAndLeavesNoDevice) {
  ports_.FailOutOpen(0, platform::kMidiAllocated, 170);
  MidiOut* out = new MidiOut(0);
  EXPECT_EQ(out->device, 0u);
  EXPECT_NE(out->Send(0x00643C90), platform::kMidiOk);
  out->ScheduleShutdown();
  out->Shutdown();
  delete out;
  EXPECT_EQ(log_.Lines(),
            (std::vector<std::string>{"MidiOut: cannot open MIDI out, error = 4, GLE = 170",
                                      "MidiOut: ScheduleShutdown()", "MidiOut: Shut down"}));
  EXPECT_TRUE(ports_.Sent(0).empty());
  EXPECT_EQ(ports_.GetCounts().outCloses, 0);
  EXPECT_EQ(ports_.GetCounts().badHandleCalls, 0);
}

TEST_F(MidiOutTest, ANonexistentDeviceFailsWithBadDeviceId) {
  delete new MidiOut(7);
  EXPECT_EQ(log_.Lines(),
            (std::vector<std::string>{"MidiOut: cannot open MIDI out, error = 2, GLE = 0"}));
}

TEST_F(MidiOutTest, DestroyingAnOpenOutputShutsItDown) {
  delete new MidiOut(0);
  EXPECT_EQ(log_.Lines(), (std::vector<std::string>{"MidiOut: Shut down"}));
  EXPECT_EQ(ports_.GetCounts().outCloses, 1);
}

// The MidiIn thread may still echo queued messages while Stop closes the
// device: no send may reach the handle during or after its close.
TEST_F(MidiOutTest, SendsRacingTheCloseNeverReachAClosedHandle) {
  for (int round = 0; round < 50; ++round) {
    MidiOut out(round % 2);
    std::atomic<bool> go{false};
    std::atomic<int> afterClose{0};
    std::atomic<bool> closed{false};
    std::thread sender([&] {
      while (!go.load()) std::this_thread::yield();
      for (uint32_t i = 0; i < 2000; ++i) {
        bool wasClosed = closed.load();
        uint32_t result = out.Send(0x00000090u | (i << 8));
        if (wasClosed && result == platform::kMidiOk) afterClose.fetch_add(1);
      }
    });
    go.store(true);
    std::this_thread::yield();
    out.ScheduleShutdown();
    closed.store(true);
    sender.join();
    out.Shutdown();
    EXPECT_EQ(afterClose.load(), 0);
  }
  platform::VirtualMidi::Counts counts = ports_.GetCounts();
  EXPECT_EQ(counts.badHandleCalls, 0);
  EXPECT_EQ(counts.closeDuringSend, 0);
  EXPECT_EQ(counts.outCloses, 50);
  // What was echoed before the close arrived whole and in order.
  for (uint32_t device : {0u, 1u}) {
    std::vector<uint32_t> sent = ports_.Sent(device);
    for (size_t i = 1; i < sent.size(); ++i) {
      if (sent[i] > sent[i - 1]) {
        EXPECT_EQ(sent[i] - sent[i - 1], 0x100u);
      }
    }
  }
}

}  // namespace
