// MIDI on WINMM up to the device boundary. Wine offers no MIDI devices here,
// so the driver's side is played by the test: it calls the input callback as
// the driver would, from a thread of its own, and opens output devices that
// do not exist.
#include <windows.h>
#include <gtest/gtest.h>
#include <mmsystem.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/Midi.h"
#include "platform/Thread.h"
#include "support/LogCapture.h"
#include "support/MidiInPeer.h"
#include "synth/MidiIn.h"
#include "synth/MidiOut.h"

namespace {

struct Received {
  std::vector<std::pair<uint32_t, uint32_t>> messages;  // MidiIn thread only
  std::atomic<uint32_t> wrongThread{0};
  uint32_t expectedThread = 0;
};

void Record(void* user, uint32_t message, uint32_t timeStamp) {
  auto* received = static_cast<Received*>(user);
  if (platform::CurrentThreadId() != received->expectedThread) received->wrongThread++;
  received->messages.emplace_back(message, timeStamp);
}

struct Driver {
  MidiIn* input;
  int count;
};

// What the WINMM driver does: MIM_OPEN, a burst of MIM_DATA with rising time
// stamps, from its own thread, through the callback midiInOpen was given.
void DriveInput(void* arg) {
  auto* driver = static_cast<Driver*>(arg);
  uintptr_t instance = reinterpret_cast<uintptr_t>(driver->input);
  MidiInPeer::InputCallback(0, MIM_OPEN, instance, 0, 0);
  for (int i = 0; i < driver->count; ++i)
    MidiInPeer::InputCallback(0, MIM_DATA, instance,
                              0x00403C90u + (static_cast<uint32_t>(i % 100) << 16),
                              1500u + static_cast<uint32_t>(i));
  MidiInPeer::InputCallback(0, MIM_ERROR, instance, 0xF5, 0);  // ignored
}

TEST(MidiBoundary, CallbackPostsABurstToTheMidiInThreadInArrivalOrder) {
  ASSERT_EQ(midiInGetNumDevs(), platform::NativeMidiApi().InGetNumDevs());
  LogCapture log;
  Received received;
  // -1: nothing selected; the open fails quietly and the thread still runs.
  MidiIn* input = new MidiIn(-1, Record, &received);
  received.expectedThread = MidiInPeer::Thread(*input).Id();
  for (int waited = 0; MidiInPeer::Window(*input) == 0 && waited < 5000; waited += 5) Sleep(5);
  ASSERT_NE(MidiInPeer::Window(*input), 0u);
  EXPECT_EQ(MidiInPeer::Device(*input), 0u);

  constexpr int kBurst = 500;
  Driver driver{input, kBurst};
  platform::Thread driverThread;
  ASSERT_TRUE(driverThread.Start(DriveInput, &driver));
  ASSERT_TRUE(driverThread.Wait(10000));
  input->RequestStop();
  input->WaitStopped();
  delete input;

  EXPECT_EQ(received.wrongThread.load(), 0u);
  ASSERT_EQ(received.messages.size(), static_cast<size_t>(kBurst));
  for (int i = 0; i < kBurst; ++i) {
    EXPECT_EQ(received.messages[i].first, 0x00403C90u + (static_cast<uint32_t>(i % 100) << 16));
    EXPECT_EQ(received.messages[i].second, 1500u + static_cast<uint32_t>(i));
  }
  std::vector<std::string> lines = log.Lines();
  EXPECT_EQ(lines, (std::vector<std::string>{"Midi-In successfully opened",
                                             "Midi-In thread termination"}));
}

TEST(MidiBoundary, NativeCallsOnMissingDevicesFailWithTheirResults) {
  platform::MidiApi& api = platform::NativeMidiApi();
  const uint32_t missingIn = api.InGetNumDevs();
  const uint32_t missingOut = api.OutGetNumDevs();
  char name[32] = "unchanged";
  EXPECT_EQ(api.InGetDeviceName(missingIn, name), platform::kMidiBadDeviceId);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(api.OutGetDeviceName(missingOut, name), platform::kMidiBadDeviceId);
  platform::MidiInHandle in = 123;
  EXPECT_EQ(api.InOpen(&in, missingIn, &MidiInPeer::InputCallback, 0), platform::kMidiBadDeviceId);
  EXPECT_EQ(in, 0u);
  platform::MidiOutHandle out = 123;
  EXPECT_EQ(api.OutOpen(&out, missingOut), platform::kMidiBadDeviceId);
  EXPECT_EQ(out, 0u);
}

TEST(MidiBoundary, EchoOutputThatCannotOpenLogsErrorAndLastErrorOnce) {
  LogCapture log;
  const int32_t missing = static_cast<int32_t>(midiOutGetNumDevs());
  SetLastError(0);
  HMIDIOUT probe = nullptr;
  const MMRESULT expected = midiOutOpen(&probe, missing, 0, 0, CALLBACK_NULL);
  const DWORD expectedLastError = GetLastError();
  ASSERT_EQ(expected, MMSYSERR_BADDEVICEID);

  SetLastError(0);
  MidiOut* echo = new MidiOut(missing);
  EXPECT_EQ(echo->device, 0u);
  EXPECT_EQ(echo->Send(0x00403C90), platform::kMidiInvalidHandle);
  echo->ScheduleShutdown();
  echo->Shutdown();
  delete echo;

  char first[96];
  snprintf(first, sizeof first, "MidiOut: cannot open MIDI out, error = %u, GLE = %lu", expected,
           static_cast<unsigned long>(expectedLastError));
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{first, "MidiOut: ScheduleShutdown()", "MidiOut: Shut down"}));
}

}  // namespace
