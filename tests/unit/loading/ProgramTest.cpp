// Start-up from real files, then notes through Synthesizer::HandleMidiMessage
// into the mixer's queued buffers: a program whose instrument was loaded plays
// that instrument's sample for each note range.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/InitEngine.h"
#include "support/InstrumentTableReset.h"
#include "support/LogCapture.h"
#include "support/MixerPeer.h"
#include "support/TempFolder.h"
#include "support/WaveBytes.h"
#include "support/doubles/VirtualMidi.h"
#include "support/doubles/VirtualWaveOut.h"
#include "synth/Synthesizer.h"

namespace {

// 8192 frames of one value: whatever the playback speed, every rendered
// frame shows which sample played.
Bytes Constant16(int16_t value) {
  Bytes out;
  for (int i = 0; i < 8192; ++i) PutLe16(out, static_cast<uint16_t>(value));
  return out;
}

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() : midi_({"Keys"}, {}) {
    ResetInstrumentTable();
    platform::InstallMidiApi(&midi_);
    platform::InstallWaveOutApi(&wave_);
  }
  ~ProgramTest() override {
    delete synth_;
    platform::InstallWaveOutApi(nullptr);
    platform::InstallMidiApi(nullptr);
    ResetInstrumentTable();
  }

  void Start() {
    synth_ = new Synthesizer(0, 0, -1, platform::kNoFile);
    // All four buffers written: the queue runs, so new voices are mixed ahead.
    ASSERT_TRUE(wave_.WaitForWrites(MIXER_BUFFER_COUNT, 5000));
  }
  // The three buffers queued behind the playing one, where a new voice is
  // mixed ahead while the device returns nothing.
  std::vector<int16_t> Queued() {
    synth_->GetMixer()->Lock();
    std::vector<int16_t> frames;
    for (int b = 1; b < MIXER_BUFFER_COUNT; ++b)
      frames.insert(frames.end(), MixerPeer::BufferData(*synth_->GetMixer(), b),
                    MixerPeer::BufferData(*synth_->GetMixer(), b) + 2 * MIXER_BUFFER_FRAMES);
    synth_->GetMixer()->Unlock();
    return frames;
  }
  static bool All(const std::vector<int16_t>& frames, int16_t value) {
    return std::all_of(frames.begin(), frames.end(), [&](int16_t v) { return v == value; });
  }

  LogCapture log_;  // outlives every thread that logs
  TempFolder folder_;
  platform::VirtualMidi midi_;
  platform::VirtualWaveOut wave_;
  Synthesizer* synth_ = nullptr;
};

TEST_F(ProgramTest, LoadedProgramPlaysItsSampleForEachNoteRange) {
  WriteBytes("low.wav", Wave(1, 44100, 16, Constant16(1000)));
  WriteBytes("high.wav", Wave(1, 44100, 16, Constant16(-2000)));
  WriteText("default.pvi",
            "PVID\ninstrument\nID 7\nname Split\nsample\nfile low.wav\nbase 60\nend 59\n}\n"
            "sample\nfile high.wav\nbase 72\nbegin 60\n}\n}\n");
  InitEngine();
  ASSERT_NE(InstrumentTable[7], nullptr);
  Start();
  ASSERT_TRUE(All(Queued(), 0));

  // Volume 100, velocity 127: gain 99, so 1000 adds 386 and -2000 adds -773.
  synth_->HandleMidiMessage(0x000007C0, 0);  // channel 0: program 7
  synth_->HandleMidiMessage(0x007F3090, 0);  // note 48 on, low range
  EXPECT_TRUE(All(Queued(), 386));
  synth_->HandleMidiMessage(0x000007C1, 0);  // channel 1: program 7
  synth_->HandleMidiMessage(0x007F4891, 0);  // note 72 on, high range
  EXPECT_TRUE(All(Queued(), 386 - 773));
}

TEST_F(ProgramTest, ProgramWithoutInstrumentPlaysDefaultWave) {
  WriteBytes("default.wav", Wave(1, 44100, 16, Constant16(3000)));
  WriteBytes("low.wav", Wave(1, 44100, 16, Constant16(1000)));
  WriteText("default.pvi", "PVID\ninstrument\nID 7\nsample\nfile low.wav\n}\n}\n");
  InitEngine();
  Start();
  // Channel 2 stays on program 0, which has no instrument.
  synth_->HandleMidiMessage(0x007F4092, 0);
  EXPECT_TRUE(All(Queued(), 1160));  // 3000 * 99 / 256
}

}  // namespace
