#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/InitEngine.h"
#include "engine/InstrumentTable.h"
#include "engine/PitchTable.h"
#include "support/InstrumentTableReset.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/WaveBytes.h"

namespace {

using Lines = std::vector<std::string>;

class InitEngineTest : public ::testing::Test {
 protected:
  InitEngineTest() { ResetInstrumentTable(); }
  ~InitEngineTest() override { ResetInstrumentTable(); }

  static const Sample& DefaultSample() {
    return *InstrumentTable[DEFAULT_INSTRUMENT_SLOT]->samples[0];
  }
  static void ExpectBuiltInTone() {
    const Instrument* def = InstrumentTable[DEFAULT_INSTRUMENT_SLOT];
    ASSERT_NE(def, nullptr);
    ASSERT_EQ(def->sampleCount, 1);
    const Sample& s = DefaultSample();
    EXPECT_EQ(s.length, 131072);
    EXPECT_EQ(s.rate, 44100);
    EXPECT_EQ(s.baseNote, 64);
    EXPECT_EQ(s.left[1], 127);
    EXPECT_EQ(s.right[1], 331);
    EXPECT_EQ(s.left[131071], -1991);
    for (int note = 0; note < 128; ++note) EXPECT_EQ(def->SampleForNote(note), &s);
  }

  TempFolder folder;
  LogCapture log;
};

TEST_F(InitEngineTest, WithNeitherFileEveryProgramPlaysTheBuiltInTone) {
  // Slots 0 to 127 are emptied, whatever they held.
  Instrument* stale = new Instrument();
  InstrumentTable[3] = stale;
  PitchTable[127] = 0.0;
  InitEngine();
  delete stale;
  EXPECT_EQ(log.Lines(), (Lines{"Sample: Cannot open file 'default.wav': GLE = 2",
                                "Loading instrument set from 'default.pvi'...",
                                "Instrument set not loaded, file not found."}));
  ExpectBuiltInTone();
  for (int slot = 0; slot < 128; ++slot) EXPECT_EQ(InstrumentTable[slot], nullptr);
  EXPECT_EQ(PitchFactor(0), 1.0);
}

TEST_F(InitEngineTest, ValidDefaultWaveReplacesTheToneSilently) {
  WriteBytes("default.wav", Wave(2, 22050, 16, Values16({10, 20, 30, 40})));
  InitEngine();
  EXPECT_EQ(log.Lines(), (Lines{"Loading instrument set from 'default.pvi'...",
                                "Instrument set not loaded, file not found."}));
  const Sample& s = DefaultSample();
  EXPECT_EQ(s.length, 2);
  EXPECT_EQ(s.left[1], 30);
  EXPECT_EQ(s.right[1], 40);
  EXPECT_EQ(s.rate, 22050);
  for (int note = 0; note < 128; ++note)
    EXPECT_EQ(InstrumentTable[DEFAULT_INSTRUMENT_SLOT]->noteMap[note], 0);
}

TEST_F(InitEngineTest, RejectedDefaultWaveLeavesTheToneAtItsOwnPitch) {
  // Rate 8000 must not reach the tone when the channel count is refused.
  for (uint16_t channels : {0, 3}) {
    SCOPED_TRACE(channels);
    ResetInstrumentTable();
    log.Clear();
    WriteBytes("default.wav", Wave(channels, 8000, 16, Values16({1, 2, 3, 4, 5, 6})));
    InitEngine();
    ExpectBuiltInTone();
    const Lines lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              channels == 0
                  ? "Sample: Cannot open file 'default.wav': zero channels"
                  : "Sample: Cannot open file 'default.wav': unsupported channel count (3)");
  }
}

TEST_F(InitEngineTest, FullInstrumentSetFillsItsSlotsAndKeepsTheDefault) {
  WriteBytes("default.wav", Wave(1, 44100, 8, {0xC0, 0x40}));
  WriteBytes("bass.wav", Wave(1, 44100, 16, Values16({500, 0})));
  WriteBytes("lead.wav", Wave(1, 44100, 16, Values16({700, 0})));
  WriteText("default.pvi",
            "PVID\ninstrument\nID 32\nname Bass\nsample\nfile bass.wav\nbase 40\nend 63\n}\n}\n"
            "instrument\nID 80\nname Lead\nsample\nfile lead.wav\nbegin 48\n}\nsample\n"
            "file missing.wav\n}\n}\n"
            "instrument\nID 128\nname Sneaky\nsample\nfile lead.wav\n}\n}\n");
  InitEngine();
  EXPECT_EQ(log.Lines(),
            (Lines{"Loading instrument set from 'default.pvi'...",
                   "Instrument ' Bass' with 1 samples has been loaded as ID 32",
                   "Sample: File missing.wav not found",
                   "Instrument ' Lead' with 1 samples has been loaded as ID 80",
                   "Instrument ' Sneaky' has an invalid ID 128, it has been discarded"}));
  ASSERT_NE(InstrumentTable[32], nullptr);
  ASSERT_NE(InstrumentTable[80], nullptr);
  EXPECT_EQ(InstrumentTable[32]->SampleForNote(63)->left[0], 500);
  EXPECT_EQ(InstrumentTable[32]->SampleForNote(64), nullptr);
  EXPECT_EQ(InstrumentTable[80]->SampleForNote(48)->left[0], 700);
  EXPECT_EQ(DefaultSample().length, 2);
  EXPECT_EQ(DefaultSample().left[0], 0x40 * 256);
  int loaded = 0;
  for (int slot = 0; slot < 128; ++slot) loaded += InstrumentTable[slot] != nullptr;
  EXPECT_EQ(loaded, 2);
}

}  // namespace
