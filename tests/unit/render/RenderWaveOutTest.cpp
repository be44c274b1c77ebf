// The render device against the real Mixer: buffers come back in order, every
// refill is waited for, and the position the driver sets is the one the
// mix-ahead sees.
#include <gtest/gtest.h>

#include <vector>

#include "engine/Mixer.h"
#include "engine/PitchTable.h"
#include "tools/RenderWaveOut.h"

namespace {

constexpr int kTimeoutMs = 20000;

// One sample of constant level, mapped to every note, playing at its
// recorded speed on note 60.
struct FlatInstrument {
  explicit FlatInstrument(int32_t frames) {
    BuildPitchTable();
    Sample* sample = new Sample();
    sample->rate = 44100;
    sample->baseNote = 60;
    sample->Allocate(frames);
    for (int32_t i = 0; i < frames; ++i) {
      sample->left[i] = 2560;
      sample->right[i] = -2560;
    }
    int32_t index = instrument.AddSample(sample);
    for (int32_t& entry : instrument.noteMap) entry = index;
  }
  Instrument instrument;
};

class Installed {
 public:
  explicit Installed(platform::WaveOutApi* api) { platform::InstallWaveOutApi(api); }
  ~Installed() { platform::InstallWaveOutApi(nullptr); }
};

}  // namespace

TEST(RenderWaveOut, PlaysTheMixersBuffersInOrderWithTheMixAheadAtTheSetPosition) {
  FlatInstrument flat(5000);
  RenderWaveOut device;
  Installed installed(&device);
  std::vector<int16_t> output;
  {
    Mixer mixer(0);
    ASSERT_TRUE(device.WaitUntilQueued(4, kTimeoutMs));
    EXPECT_EQ(device.WriteCount(), 4u);

    int16_t buffer[2 * 1024];
    for (int period = 0; period < 9; ++period) {
      if (period == 0 || period == 2) {
        // Device frame 100 and 2900: into buffers 1 to 3 (heard from frame
        // 1024), then into buffers 3 and 0 (heard from frame 3072).
        device.SetPosition(period == 0 ? 100 : 2900);
        mixer.Lock();
        ASSERT_NE(mixer.StartVoice(60, 0, 64, 100, &flat.instrument), nullptr);
        mixer.Unlock();
      }
      ASSERT_TRUE(device.PlayNextBuffer(buffer, kTimeoutMs)) << "period " << period;
      output.insert(output.end(), buffer, buffer + 2 * 1024);
    }
    EXPECT_EQ(device.WriteCount(), 4u + 9u);
    mixer.Lock();
    EXPECT_EQ(mixer.VoiceCount(), 0);
    mixer.Unlock();
    mixer.ScheduleShutdown();
    mixer.WaitForShutdown();
  }
  // Gain 100 x 64 / 128 = 50: each voice adds 2560 x 50 / 256 = 500.
  ASSERT_EQ(output.size(), 2u * 9 * 1024);
  auto levelAt = [&](int frame) { return output[2 * frame]; };
  for (int frame = 0; frame < 9 * 1024; ++frame) {
    int voices = (frame >= 1024 && frame < 6024) + (frame >= 3072 && frame < 8072);
    ASSERT_EQ(levelAt(frame), 500 * voices) << "frame " << frame;
    ASSERT_EQ(output[2 * frame + 1], -500 * voices) << "frame " << frame;
  }
}

TEST(RenderWaveOut, BehavesLikeTheDeviceTowardsItsCaller) {
  RenderWaveOut device;
  platform::WaveOutHandle handle = 0;
  char name[32];
  EXPECT_EQ(device.GetNumDevs(), 1u);
  EXPECT_EQ(device.GetDeviceName(3, name), platform::kWaveBadDeviceId);
  EXPECT_EQ(device.Open(&handle, 1, 0), platform::kWaveBadDeviceId);
  ASSERT_EQ(device.Open(&handle, platform::kWaveMapper, 0), platform::kWaveOk);
  EXPECT_EQ(device.Open(&handle, 0, 0), platform::kWaveError);  // one device, opened once

  platform::MemoryHandle memory = device.AllocBufferMemory(4096);
  platform::WaveHeader header = {};
  header.data = static_cast<char*>(device.LockBufferMemory(memory));
  header.bufferLength = 4096;
  EXPECT_EQ(device.Write(handle, &header), platform::kWaveError);  // not prepared
  ASSERT_EQ(device.PrepareHeader(handle, &header), platform::kWaveOk);
  ASSERT_EQ(device.Write(handle, &header), platform::kWaveOk);
  EXPECT_EQ(header.flags, platform::kWaveHeaderPrepared | platform::kWaveHeaderInQueue);
  EXPECT_EQ(device.UnprepareHeader(handle, &header), platform::kWaveStillPlaying);
  EXPECT_EQ(device.Close(handle), platform::kWaveStillPlaying);

  device.SetPosition(6200);
  uint32_t frames = 0;
  bool isSamples = false;
  ASSERT_EQ(device.GetPosition(handle, &frames, &isSamples), platform::kWaveOk);
  EXPECT_EQ(frames, 6200u);
  EXPECT_TRUE(isSamples);

  ASSERT_EQ(device.Reset(handle), platform::kWaveOk);
  EXPECT_EQ(header.flags, platform::kWaveHeaderPrepared | platform::kWaveHeaderDone);
  int16_t out[2048];
  EXPECT_FALSE(device.PlayNextBuffer(out, 10));  // nothing queued any more
  EXPECT_EQ(device.UnprepareHeader(handle, &header), platform::kWaveOk);
  EXPECT_EQ(device.Close(handle), platform::kWaveOk);
  EXPECT_EQ(device.Close(handle), platform::kWaveInvalidHandle);
  device.UnlockBufferMemory(memory);
  device.FreeBufferMemory(memory);
}
