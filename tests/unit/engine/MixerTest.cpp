#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/Mixer.h"
#include "engine/PitchTable.h"
#include "support/LogCapture.h"
#include "support/MixerPeer.h"
#include "support/doubles/SleepMs.h"
#include "support/doubles/VirtualWaveOut.h"

namespace {

constexpr int kTimeoutMs = 5000;
constexpr int kGain = 126;  // volume 127, velocity 127

// Left holds the frame's index (wrapping at 16384), right its negation, so a
// buffer tells exactly which sample frames were mixed into it.
int16_t RampValue(int32_t frame) { return static_cast<int16_t>(frame % 16384); }
int16_t Contribution(int32_t value) { return static_cast<int16_t>((value * kGain) / 256); }

// Plays at its own rate on baseNote.
Sample* MakeSample(int32_t length, int16_t value, int32_t baseNote) {
  Sample* sample = new Sample();
  sample->baseNote = baseNote;
  sample->Allocate(length);
  for (int32_t i = 0; i < length; ++i) sample->left[i] = sample->right[i] = value;
  return sample;
}

Sample* MakeRamp(int32_t length) {
  Sample* sample = new Sample();
  sample->Allocate(length);
  for (int32_t i = 0; i < length; ++i) {
    sample->left[i] = RampValue(i);
    sample->right[i] = static_cast<int16_t>(-RampValue(i));
  }
  return sample;
}

// True when every frame of buffer holds the voice's sample frames
// firstFrame, firstFrame + 1, ... (a ramp at the output rate, on its base note).
::testing::AssertionResult HoldsRampFrames(const int16_t* buffer, int32_t firstFrame) {
  for (int32_t k = 0; k < MIXER_BUFFER_FRAMES; ++k) {
    const int16_t value = RampValue(firstFrame + k);
    if (buffer[2 * k] != Contribution(value) || buffer[2 * k + 1] != Contribution(-value))
      return ::testing::AssertionFailure()
             << "frame " << k << " holds " << buffer[2 * k] << "/" << buffer[2 * k + 1]
             << ", expected sample frame " << firstFrame + k;
  }
  return ::testing::AssertionSuccess();
}

bool IsSilent(const int16_t* buffer) {
  return std::all_of(buffer, buffer + 2 * MIXER_BUFFER_FRAMES, [](int16_t v) { return v == 0; });
}

template <typename Condition>
bool Eventually(Condition condition) {
  for (int waited = 0; waited < kTimeoutMs; ++waited) {
    if (condition()) return true;
    platform::SleepMs(1);
  }
  return condition();
}

size_t IndexOf(const std::vector<std::string>& events, const std::string& event) {
  return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
}

class MixerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildPitchTable();
    platform::InstallWaveOutApi(&device);
    // Sample 0 a long ramp, sample 1 100 frames of 1000, sample 2 a long run
    // of 100; note 64 plays the ramp on its base note.
    instrument.AddSample(MakeRamp(200000));
    instrument.AddSample(MakeSample(100, 1000, 60));
    instrument.AddSample(MakeSample(200000, 100, 61));
    instrument.noteMap[64] = 0;
    instrument.noteMap[60] = 1;
    instrument.noteMap[61] = 2;
  }
  void TearDown() override {
    if (mixer) Stop();
    platform::InstallWaveOutApi(nullptr);
  }

  void StartMixer() {
    mixer = new Mixer(0);
    ASSERT_TRUE(device.WaitForWrites(4, kTimeoutMs));
  }
  void Stop() {
    mixer->ScheduleShutdown();
    mixer->WaitForShutdown();
    delete mixer;
    mixer = nullptr;
  }
  Voice* Start(int32_t note) {
    mixer->Lock();
    Voice* voice = mixer->StartVoice(note, 0, 127, 127, &instrument);
    mixer->Unlock();
    return voice;
  }
  // Returns the oldest queued buffer and waits until the Mixer has queued it again.
  int ReturnAndRefill() {
    const int writes = device.WriteCount();
    const int index = device.ReturnNextBuffer();
    EXPECT_TRUE(device.WaitForWrites(writes + 1, kTimeoutMs));
    return index;
  }
  int32_t Count() {
    mixer->Lock();
    const int32_t count = mixer->VoiceCount();
    mixer->Unlock();
    return count;
  }
  std::vector<int16_t> Buffer(int index) {
    mixer->Lock();
    std::vector<int16_t> copy(MixerPeer::BufferData(*mixer, index),
                              MixerPeer::BufferData(*mixer, index) + 2 * MIXER_BUFFER_FRAMES);
    mixer->Unlock();
    return copy;
  }

  platform::VirtualWaveOut device;
  Instrument instrument;
  Mixer* mixer = nullptr;
  LogCapture log;
};

TEST_F(MixerTest, OpenQueuesFourSilentBuffersInIndexOrder) {
  StartMixer();
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"Wave out opened"});
  const std::vector<std::string> expected = {
      "open 0",    "alloc 0", "lock 0",  "prepare 0", "alloc 1", "lock 1",
      "prepare 1", "alloc 2", "lock 2",  "prepare 2", "alloc 3", "lock 3",
      "prepare 3", "write 0", "write 1", "write 2",   "write 3"};
  EXPECT_EQ(device.Events(), expected);
  for (int i = 0; i < MIXER_BUFFER_COUNT; ++i) {
    const platform::WaveHeader* header = device.Header(i);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->user, static_cast<uintptr_t>(i));
    EXPECT_EQ(header->bufferLength, 4096u);
    EXPECT_EQ(header->loops, 0u);
    EXPECT_TRUE(IsSilent(Buffer(i).data()));
  }
}

TEST_F(MixerTest, MixAheadAtPosition5000FillsBuffers1To3InPlayingOrder) {
  StartMixer();
  device.SetPosition(5000);  // the fifth buffer played: buffer 0 again
  Voice* voice = Start(64);
  ASSERT_NE(voice, nullptr);
  EXPECT_TRUE(IsSilent(Buffer(0).data()));
  EXPECT_TRUE(HoldsRampFrames(Buffer(1).data(), 0));
  EXPECT_TRUE(HoldsRampFrames(Buffer(2).data(), 1024));
  EXPECT_TRUE(HoldsRampFrames(Buffer(3).data(), 2048));
  mixer->Lock();
  EXPECT_EQ(voice->position, 3072);
  EXPECT_EQ(mixer->VoiceCount(), 1);
  mixer->Unlock();
}

TEST_F(MixerTest, MixAheadAtPosition6200WithRefillPendingLeavesThirdBufferToIt) {
  StartMixer();
  EXPECT_EQ(ReturnAndRefill(), 0);
  mixer->Lock();
  EXPECT_EQ(MixerPeer::NextBuffer(*mixer), 1);
  mixer->Unlock();
  device.SetPosition(6200);  // buffer 2 playing, buffer 1 back but not refilled
  Voice* voice = Start(64);
  ASSERT_NE(voice, nullptr);
  EXPECT_TRUE(HoldsRampFrames(Buffer(3).data(), 0));
  EXPECT_TRUE(HoldsRampFrames(Buffer(0).data(), 1024));
  EXPECT_TRUE(IsSilent(Buffer(1).data()));
  EXPECT_TRUE(IsSilent(Buffer(2).data()));

  EXPECT_EQ(ReturnAndRefill(), 1);
  EXPECT_TRUE(HoldsRampFrames(Buffer(1).data(), 2048));
  mixer->Lock();
  EXPECT_EQ(voice->position, 3072);
  EXPECT_EQ(MixerPeer::NextBuffer(*mixer), 2);
  mixer->Unlock();
}

TEST_F(MixerTest, MixAheadAtPosition3100LeavesEverythingToPendingRefills) {
  StartMixer();
  device.SetPosition(3100);  // buffer 3 playing, refills of 0 to 2 pending
  Voice* voice = Start(64);
  ASSERT_NE(voice, nullptr);
  for (int i = 0; i < MIXER_BUFFER_COUNT; ++i) EXPECT_TRUE(IsSilent(Buffer(i).data())) << i;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReturnAndRefill(), i);
    EXPECT_TRUE(HoldsRampFrames(Buffer(i).data(), 1024 * i)) << "buffer " << i;
  }
  mixer->Lock();
  EXPECT_EQ(voice->position, 3072);
  mixer->Unlock();
}

TEST_F(MixerTest, UnusableDevicePositionSkipsTheMixAhead) {
  StartMixer();
  device.SetPositionResult(platform::kWaveError);
  Voice* failed = Start(64);
  device.SetPositionResult(platform::kWaveOk);
  device.SetPositionInOtherFormat(true);
  device.SetPosition(5000);
  Voice* otherFormat = Start(64);
  ASSERT_NE(failed, nullptr);
  ASSERT_NE(otherFormat, nullptr);
  for (int i = 0; i < MIXER_BUFFER_COUNT; ++i) EXPECT_TRUE(IsSilent(Buffer(i).data())) << i;
  const std::vector<std::string> events = device.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "position"), 2);
  // Both voices start with the next refill.
  EXPECT_EQ(ReturnAndRefill(), 0);
  const std::vector<int16_t> buffer = Buffer(0);
  EXPECT_EQ(buffer[2 * 5], 2 * Contribution(RampValue(5)));
  EXPECT_EQ(Count(), 2);
}

TEST_F(MixerTest, VoiceStartedBeforeTheDeviceOpensWaitsForTheFirstRefill) {
  device.SetDeferOpen(true);
  mixer = new Mixer(0);
  ASSERT_TRUE(Eventually([&] { return device.IsOpen(); }));
  Voice* voice = Start(64);
  ASSERT_NE(voice, nullptr);
  EXPECT_EQ(IndexOf(device.Events(), "position"), device.Events().size());

  ASSERT_TRUE(device.AnnounceOpen());
  ASSERT_TRUE(device.WaitForWrites(4, kTimeoutMs));
  for (int i = 0; i < MIXER_BUFFER_COUNT; ++i) EXPECT_TRUE(IsSilent(Buffer(i).data())) << i;
  EXPECT_EQ(ReturnAndRefill(), 0);
  EXPECT_TRUE(HoldsRampFrames(Buffer(0).data(), 0));
}

TEST_F(MixerTest, DeviceThatDoesNotOpenSaysWhyQueuesNothingAndStillStops) {
  device.SetOpenResult(platform::kWaveBadDeviceId);
  mixer = new Mixer(7);
  ASSERT_TRUE(log.WaitFor("Mixer: waveOutOpen() failed: 2 (no such device)"));
  Voice* voice = Start(64);
  EXPECT_NE(voice, nullptr);
  Stop();
  EXPECT_EQ(device.Events(), std::vector<std::string>{"open 7"});
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"Mixer: waveOutOpen() failed: 2 (no such device)",
                                      "Mixer: ScheduleShutdown()", "Mixer: WaitForShutdown()",
                                      "Mixer: IsShutdown()"}));
}

TEST_F(MixerTest, RefillRendersFromTheLastSlotDown) {
  // Three voices add +16127 each, the one in slot 0 adds -16128. From the
  // last slot down the sum clips at the third voice before slot 0 pulls it
  // back: 16127, 32254, 32767, 16639. From slot 0 up it would end at 32253.
  instrument.AddSample(MakeSample(200000, -32768, 70));
  instrument.AddSample(MakeSample(200000, 32767, 71));
  instrument.noteMap[70] = 3;
  instrument.noteMap[71] = 4;
  StartMixer();
  device.SetPosition(3100);
  ASSERT_NE(Start(70), nullptr);
  for (int k = 0; k < 3; ++k) ASSERT_NE(Start(71), nullptr);
  EXPECT_EQ(ReturnAndRefill(), 0);
  const std::vector<int16_t> buffer = Buffer(0);
  EXPECT_EQ(buffer[0], 16639);
  EXPECT_EQ(buffer[1], 16639);
  EXPECT_EQ(buffer[2 * 1023], 16639);
}

TEST_F(MixerTest, FinishedVoicesAreRemovedByMovingTheLastSlotDown) {
  StartMixer();
  device.SetPosition(3100);
  // Note 60 plays the 100-frame sample, note 61 the long one.
  Voice* a = Start(61);
  Voice* b = Start(60);
  Voice* c = Start(61);
  Voice* d = Start(60);
  EXPECT_EQ(ReturnAndRefill(), 0);
  mixer->Lock();
  ASSERT_EQ(mixer->VoiceCount(), 2);
  EXPECT_EQ(mixer->VoiceAt(0), a);
  EXPECT_EQ(mixer->VoiceAt(1), c);
  EXPECT_EQ(mixer->VoiceAt(2), nullptr);
  EXPECT_EQ(mixer->VoiceAt(3), nullptr);
  mixer->Unlock();
  // The two short voices end after frame 99 and leave the rest to A and C.
  const std::vector<int16_t> buffer = Buffer(0);
  EXPECT_EQ(buffer[2 * 99], 2 * Contribution(1000) + 2 * Contribution(100));
  EXPECT_EQ(buffer[2 * 100], 2 * Contribution(100));
  EXPECT_EQ(buffer[2 * 1023 + 1], 2 * Contribution(100));
  (void)b;
  (void)d;
}

TEST_F(MixerTest, FirstSlotFinishingTakesTheLastVoice) {
  StartMixer();
  device.SetPosition(3100);
  Start(60);
  Voice* b = Start(61);
  Voice* c = Start(61);
  Voice* d = Start(61);
  EXPECT_EQ(ReturnAndRefill(), 0);
  mixer->Lock();
  ASSERT_EQ(mixer->VoiceCount(), 3);
  EXPECT_EQ(mixer->VoiceAt(0), d);
  EXPECT_EQ(mixer->VoiceAt(1), b);
  EXPECT_EQ(mixer->VoiceAt(2), c);
  EXPECT_EQ(mixer->VoiceAt(3), nullptr);
  EXPECT_EQ(d->position, 1024);  // rendered once, before the move
  mixer->Unlock();
}

TEST_F(MixerTest, Voice257IsRefusedSilentlyUntilARefillRemovesOne) {
  StartMixer();
  device.SetPosition(3100);
  Start(60);
  for (int k = 1; k < MIXER_MAX_VOICES; ++k) ASSERT_NE(Start(61), nullptr) << k;
  log.Clear();
  EXPECT_EQ(Start(61), nullptr);
  EXPECT_EQ(Count(), 256);
  EXPECT_TRUE(log.Lines().empty());
  ReturnAndRefill();  // the short voice ends
  EXPECT_NE(Start(61), nullptr);
  EXPECT_EQ(Count(), 256);
}

TEST_F(MixerTest, UnassignedSampleIsLoggedAndNotRegistered) {
  const char piano[] = "Piano";
  instrument.name.reset(new char[sizeof piano]);
  std::memcpy(instrument.name.get(), piano, sizeof piano);
  StartMixer();
  log.Clear();
  mixer->Lock();
  EXPECT_EQ(mixer->StartVoice(30, 2, 100, 100, &instrument), nullptr);
  EXPECT_EQ(mixer->VoiceCount(), 0);
  mixer->Unlock();
  EXPECT_EQ(log.Lines(),
            std::vector<std::string>{"  Request has been made for an unassigned sample (note 30, "
                                     "channel 2, instrument 'Piano')"});
}

TEST_F(MixerTest, FindVoiceFindsOnlyThePlayingVoiceInSlotOrder) {
  StartMixer();
  device.SetPosition(3100);
  mixer->Lock();
  Voice* first = mixer->StartVoice(61, 3, 100, 100, &instrument);
  Voice* second = mixer->StartVoice(61, 3, 100, 100, &instrument);
  EXPECT_EQ(mixer->FindVoice(61, 3), first);
  EXPECT_EQ(mixer->FindVoice(61, 4), nullptr);
  EXPECT_EQ(mixer->FindVoice(62, 3), nullptr);
  first->state = VOICE_SUSTAINED;
  EXPECT_EQ(mixer->FindVoice(61, 3), second);
  second->state = VOICE_RELEASING;
  EXPECT_EQ(mixer->FindVoice(61, 3), nullptr);
  second->state = VOICE_FINISHED;
  EXPECT_EQ(mixer->FindVoice(61, 3), nullptr);
  mixer->Unlock();
}

TEST_F(MixerTest, ShutdownReleasesEveryBufferBeforeClosing) {
  StartMixer();
  device.SetPosition(0);
  Start(64);
  log.Clear();
  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();
  const std::vector<std::string> lines = log.Lines();
  delete mixer;
  mixer = nullptr;
  EXPECT_EQ(lines, (std::vector<std::string>{"Mixer: ScheduleShutdown()",
                                             "Mixer: WaitForShutdown()", "Mixer: IsShutdown()"}));
  EXPECT_EQ(log.Lines(), lines);  // destruction adds nothing

  const std::vector<std::string> events = device.Events();
  const size_t reset = IndexOf(events, "reset");
  const size_t close = IndexOf(events, "close");
  ASSERT_LT(reset, events.size());
  EXPECT_EQ(close, events.size() - 1);
  for (int i = 0; i < MIXER_BUFFER_COUNT; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_GT(IndexOf(events, "unprepare " + n), reset);
    EXPECT_LT(IndexOf(events, "unprepare " + n), IndexOf(events, "unlock " + n));
    EXPECT_LT(IndexOf(events, "unlock " + n), IndexOf(events, "free " + n));
    EXPECT_LT(IndexOf(events, "free " + n), close);
  }
  EXPECT_EQ(std::count_if(events.begin() + static_cast<long>(reset), events.end(),
                          [](const std::string& e) { return e.rfind("write", 0) == 0; }),
            0);
  EXPECT_EQ(device.LiveMemoryCount(), 0);
  EXPECT_EQ(device.QueuedCount(), 0);
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(MixerTest, ShutdownRightAfterConstructionEndsTheThread) {
  mixer = new Mixer(0);
  Stop();  // whether or not the thread had its window yet, the wait returns
  EXPECT_EQ(device.LiveMemoryCount(), 0);
  EXPECT_FALSE(device.IsOpen());
}

struct SetupFailure {
  const char* name;
  void (*inject)(platform::VirtualWaveOut&);
  const char* line;
};
void PrintTo(const SetupFailure& failure, std::ostream* out) { *out << failure.name; }

class MixerSetupFailureTest : public MixerTest,
                              public ::testing::WithParamInterface<SetupFailure> {};

TEST_P(MixerSetupFailureTest, StopsTheThreadWithOneLineAndQueuesNothing) {
  GetParam().inject(device);
  mixer = new Mixer(0);
  ASSERT_TRUE(MixerPeer::Thread(*mixer).Wait(kTimeoutMs));  // ends by itself
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Wave out opened", GetParam().line}));
  EXPECT_EQ(device.WriteCount(), 0);
  EXPECT_EQ(device.LiveMemoryCount(), 0);
  EXPECT_EQ(device.PreparedCount(), 0);
  EXPECT_FALSE(device.IsOpen());
  // A voice started now is kept but never rendered into released buffers.
  EXPECT_NE(Start(64), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, MixerSetupFailureTest,
    ::testing::Values(
        SetupFailure{"AllocThird", [](platform::VirtualWaveOut& d) { d.FailAllocation(2); },
                     "Not enough memory for buffer 2"},
        SetupFailure{"LockSecond", [](platform::VirtualWaveOut& d) { d.FailLock(1); },
                     "Lock failed for buffer 1"},
        SetupFailure{"PrepareFourth",
                     [](platform::VirtualWaveOut& d) { d.FailPrepare(3, platform::kWaveNoMemory); },
                     "Prepare failed for buffer 3"}),
    [](const ::testing::TestParamInfo<SetupFailure>& failure) { return failure.param.name; });

TEST_F(MixerTest, FailedInitialWriteIsLoggedAndTheOthersAreQueued) {
  device.FailWrite(2, 11);
  mixer = new Mixer(0);
  ASSERT_TRUE(device.WaitForWrites(3, kTimeoutMs));
  ASSERT_TRUE(log.WaitFor("Mixer: waveOutWrite() failed: 11"));
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"Wave out opened", "Mixer: waveOutWrite() failed: 11"}));
  const std::vector<std::string> events = device.Events();
  EXPECT_EQ(std::vector<std::string>(events.end() - 4, events.end()),
            (std::vector<std::string>{"write 0", "write 1", "write 2", "write 3"}));
  EXPECT_EQ(device.QueuedCount(), 3);
}

// A MIDI-like thread starts and releases voices under the lock while the
// device returns buffers as fast as the Mixer requeues them.
TEST_F(MixerTest, VoicesStartAndEndWhileBuffersCycle) {
  StartMixer();
  std::atomic<bool> done{false};
  std::thread midi([&] {
    int note = 0;
    while (!done.load()) {
      device.SetPosition(static_cast<uint32_t>(note * 997));
      mixer->Lock();
      if (Voice* voice = mixer->StartVoice(61, note % 16, 100, 100, &instrument)) {
        voice->state = VOICE_RELEASING;
        voice->releaseCounter = 2048;
      }
      mixer->Unlock();
      ++note;
      std::this_thread::yield();
    }
  });
  for (int k = 0; k < 300; ++k) ReturnAndRefill();
  done = true;
  midi.join();
  mixer->Lock();
  EXPECT_LE(mixer->VoiceCount(), MIXER_MAX_VOICES);
  for (int32_t k = 0; k < mixer->VoiceCount(); ++k) {
    ASSERT_NE(mixer->VoiceAt(k), nullptr);
    EXPECT_EQ(mixer->VoiceAt(k)->state, VOICE_RELEASING);
  }
  for (int32_t k = mixer->VoiceCount(); k < MIXER_MAX_VOICES; ++k)
    EXPECT_EQ(mixer->VoiceAt(k), nullptr);
  mixer->Unlock();
}

}  // namespace
