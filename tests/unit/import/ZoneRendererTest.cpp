// What the writer puts into each file and its lines: the attack ahead of the
// loop, the decay and level for the engine, the release time, and the rate
// at which the middle key plays in tune.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/PitchTable.h"
#include "support/TempFolder.h"
#include "tools/import/SetWriter.h"
#include "tools/import/VolumeEnvelope.h"
#include "tools/import/ZoneRenderer.h"

namespace {

struct PitchTableReady : ::testing::Environment {
  void SetUp() override { BuildPitchTable(); }
};
const auto* const kPitchTable = ::testing::AddGlobalTestEnvironment(new PitchTableReady);

// A zone over a constant source of 1000 frames at 44100 with the loop
// 600..800, playing at its own speed on key 60.
ImportZone LoopedZone() {
  auto audio = std::make_shared<SourceAudio>();
  audio->frames.assign(1000, 0.5f);
  for (size_t i = 600; i < 800; ++i) audio->frames[i] = 0.25f;
  audio->rate = 44100;
  ImportZone zone;
  zone.audio[0] = audio;
  zone.end = 1000;
  zone.loopStart = 600;
  zone.loopEnd = 800;
  zone.loop = LoopMode::kSustain;
  zone.keyLo = zone.keyHi = zone.rootKey = 60;
  zone.name = "tone";
  return zone;
}

}  // namespace

TEST(VolumeEnvelope, ReleaseReachesMinus40DbWhenTheFadeDoes) {
  EnvelopeSpec spec;
  spec.releaseDbPerSecond = 96.0;  // 96 dB in one second: -40 dB at 0.4167 s
  // The engine's linear fade reaches 1% at 99% of its length.
  EXPECT_EQ(VolumeEnvelope(spec, 60).ReleaseMs(), 421);
  // On a sound that falls 32 dB a second by itself, both reach -40 dB at
  // 40 / 128 s, the fade having taken 30 dB of it: 0.3125 / (1 - 10^-1.5).
  EXPECT_EQ(VolumeEnvelope(spec, 60).ReleaseMs(32.0), 323);
}

TEST(ZoneRenderer, AttackIsWrittenAheadOfTheLoopAndTheDecayIsLeftToTheEngine) {
  ImportZone zone = LoopedZone();
  // Attack 10 ms (441 frames), then a decay of 96 dB a second down to 6 dB
  // below full: the loop begins at its own start, past the attack, and
  // repeats at full level; the decay line says the rest.
  zone.envelope.attack = 0.01;
  zone.envelope.decayDbPerSecond = 96.0;
  zone.envelope.sustainDb = 6.0;
  RenderedSample out;
  RenderZone(zone, 60, 60, 8.0, &out);
  EXPECT_EQ(out.rate, 44100);
  EXPECT_EQ(out.base, 60);
  EXPECT_EQ(out.loop, LoopMode::kSustain);
  EXPECT_EQ(out.loopStart, 600);
  EXPECT_EQ(out.loopEnd, 799);
  // Loop, then the sample's tail that a released note plays on into.
  ASSERT_EQ(out.frames.size(), 1000u);
  EXPECT_EQ(out.channels, 1);
  EXPECT_EQ(out.frames[0], 0);
  EXPECT_NEAR(out.frames[220], 0.5 * 220 / 441.0 * 32768, 1.0);  // half way up
  EXPECT_EQ(out.frames[600], 8192);
  EXPECT_EQ(out.frames[800], 16384);
  EXPECT_DOUBLE_EQ(out.decayStartMs, 10.0);
  EXPECT_DOUBLE_EQ(out.decayDbPerSecond, 96.0);
  EXPECT_DOUBLE_EQ(out.sustainDb, -6.0);
  EXPECT_DOUBLE_EQ(out.levelDb, 0.0);
}

TEST(ZoneRenderer, SoundWithoutALoopIsWrittenOutUntil60DbDownOrTheBound) {
  ImportZone zone = LoopedZone();
  zone.loop = LoopMode::kNone;
  auto audio = std::make_shared<SourceAudio>();
  audio->frames.assign(44100, 0.5f);
  zone.audio[0] = audio;
  zone.end = 44100;
  zone.envelope.decayDbPerSecond = 96.0;
  zone.envelope.sustainDb = 96.0;
  // Half on the left, a quarter on the right: the level line takes the
  // louder side, the file the rest.
  zone.gain[0][0] = 0.5;
  zone.gain[1][0] = 0.25;
  RenderedSample out;
  RenderZone(zone, 60, 60, 8.0, &out);
  EXPECT_EQ(out.loop, LoopMode::kNone);
  EXPECT_EQ(out.frames.size(), 2 * static_cast<size_t>(std::ceil(60.0 / 96.0 * 44100)));
  EXPECT_NEAR(out.levelDb, -6.0206, 1e-4);
  EXPECT_EQ(out.frames[0], 16384);
  EXPECT_EQ(out.frames[1], 8192);
  EXPECT_DOUBLE_EQ(out.sustainDb, -96.0);
  // --max-seconds bounds it.
  RenderZone(zone, 60, 60, 0.1, &out);
  EXPECT_EQ(out.frames.size(), 2 * 4410u);
}

// A stereo pair looped apart: the file loops as the left side does (80
// frames) and begins that loop once the right side is 40 frames (the seam's
// fade: half the loop) into its own loop, 50..150; the right side plays its
// own frames, and its last frame of the file's loop is its frame one loop
// before, so the repeat goes on from there without a jump.
TEST(ZoneRenderer, SideLoopedApartPlaysItsOwnLoopAndMeetsItselfAtTheSeam) {
  auto left = std::make_shared<SourceAudio>();
  left->frames.assign(100, 0.5f);
  auto right = std::make_shared<SourceAudio>();
  for (int i = 0; i < 200; ++i) right->frames.push_back(static_cast<float>(i) / 1000.0f);
  ImportZone zone;
  zone.audio = {left, right};
  zone.sources = 2;
  zone.gain[0][0] = 1.0;
  zone.gain[1][0] = 0.0;
  zone.gain[0][1] = 0.0;
  zone.gain[1][1] = 1.0;
  zone.end = 100;
  zone.loopStart = 10;
  zone.loopEnd = 90;
  zone.loop = LoopMode::kContinuous;
  zone.secondApart = true;
  zone.second = {0, 200, 50, 150};
  zone.keyLo = zone.keyHi = zone.rootKey = 60;
  RenderedSample out;
  RenderZone(zone, 60, 60, 8.0, &out);
  EXPECT_EQ(out.channels, 2);
  EXPECT_EQ(out.loopStart, 90);
  EXPECT_EQ(out.loopEnd, 169);
  ASSERT_EQ(out.frames.size(), 2u * 170u);
  auto rightAt = [&](int i) { return out.frames[static_cast<size_t>(2 * i + 1)]; };
  EXPECT_EQ(rightAt(129), std::lround(0.129f * 32768));
  EXPECT_EQ(rightAt(169), rightAt(89));
  EXPECT_EQ(out.frames[2 * 169], std::lround(0.5 * 32768));
}

// A resonance of 10 dB lowers the level by half its height, 5 dB, as
// FluidSynth's filter does; a cutoff above what the source holds (0.45 of
// 44100 Hz in a file at 22050 frames a second) leaves only that.
TEST(ZoneRenderer, ResonanceLowersTheLevelByHalfItsHeight) {
  ImportZone zone = LoopedZone();
  auto audio = std::make_shared<SourceAudio>(*zone.audio[0]);
  audio->rate = 22050;
  zone.audio[0] = audio;
  zone.filterHz = 0.45 * 44100;
  zone.filterQDb = 10.0;
  RenderedSample out;
  RenderZone(zone, 60, 60, 8.0, &out);
  EXPECT_EQ(out.frames[0], std::lround(0.5 * std::pow(10.0, -5.0 / 20.0) * 32768));
}

// The engine keeps the fraction of a frame: a zone played four octaves below
// its root keeps one file at the source's rate and its loop as it is.
TEST(ZoneRenderer, FarBelowItsRootAZoneKeepsItsRateAndLoop) {
  ImportZone zone = LoopedZone();
  zone.loop = LoopMode::kContinuous;
  zone.rootKey = 72;
  zone.keyLo = 24;
  zone.keyHi = 72;
  EXPECT_TRUE(RangeFits(zone, 24, 72));
  RenderedSample out;
  RenderZone(zone, 24, 72, 8.0, &out);
  EXPECT_EQ(out.rate, 44100);
  EXPECT_EQ(out.base, 72);
  EXPECT_EQ(out.loopEnd - out.loopStart + 1, 200);
}

TEST(SetWriter, ZonesThatComeOutEqualShareOneFileAndEqualSidesAreWrittenMono) {
  TempFolder folder;
  ImportInstrument instrument;
  instrument.name = "tone";
  const ImportZone plain = LoopedZone();
  ImportZone higher = plain;  // another key, the same values
  higher.keyLo = higher.keyHi = 62;
  ImportZone pair = plain;  // two sources, each half on both sides
  pair.keyLo = pair.keyHi = 64;
  pair.sources = 2;
  pair.audio[1] = pair.audio[0];
  pair.gain[0][0] = pair.gain[0][1] = pair.gain[1][0] = pair.gain[1][1] = 0.5;
  ImportZone panned = pair;  // the right side quieter: stereo
  panned.keyLo = panned.keyHi = 66;
  panned.gain[1][1] = 0.25;
  instrument.zones = {plain, higher, pair, panned};
  SetWriter writer(folder.Path(), 8.0);
  std::string error;
  ASSERT_TRUE(writer.Add(instrument, &error)) << error;
  EXPECT_EQ(writer.Totals().blocks, 4u);
  EXPECT_EQ(writer.Totals().files, 2u);
  const std::vector<std::string>& kept = writer.Instruments()[0].kept;
  ASSERT_EQ(kept.size(), 4u);
  EXPECT_EQ(kept[2],
            "keys 64-64 'tone' -> 0001-tone.wav: mono, 44100 Hz, base 60, 0.02 s, loop "
            "sustain, release 1 ms");
  EXPECT_NE(kept[3].find("-> 0002-tone.wav: stereo"), std::string::npos) << kept[3];
}

// A cutoff that follows the modulation envelope: 11025 Hz passes while the
// envelope holds the cutoff at 13500 cents (19845 Hz, the bound), and is
// gone once it has fallen to 6900 cents (443 Hz) 20 ms in.
TEST(ZoneRenderer, CutoffFollowsTheModulationEnvelope) {
  auto audio = std::make_shared<SourceAudio>();
  const float cycle[4] = {0.5f, 0.0f, -0.5f, 0.0f};
  for (int i = 0; i < 3000; ++i) audio->frames.push_back(cycle[i % 4]);
  ImportZone zone;
  zone.audio[0] = audio;
  zone.end = 3000;
  zone.keyLo = zone.keyHi = zone.rootKey = 60;
  zone.filterHz = 443.0;
  zone.filterCents = 6900;
  zone.filterEnvCents = 6600;
  zone.modEnvelope.hold = 0.01;
  zone.modEnvelope.decay = 0.01;
  zone.modEnvelope.sustain = 0.0;
  RenderedSample out;
  RenderZone(zone, 60, 60, 8.0, &out);
  ASSERT_EQ(out.frames.size(), 3000u);
  auto peak = [&](size_t from, size_t to) {
    int worst = 0;
    for (size_t i = from; i < to; ++i) worst = std::max(worst, std::abs(int{out.frames[i]}));
    return worst;
  };
  EXPECT_GT(peak(100, 400), 14000);
  EXPECT_LT(peak(2000, 3000), 200);
}

// A cutoff below 4 kHz is written as heard on the file's middle key: a
// file spans five keys at most, none more than two semitones from it.
TEST(ZoneRenderer, AHeardCutoffSpansFiveKeysAtMost) {
  ImportZone zone = LoopedZone();
  EXPECT_TRUE(RangeFits(zone, 58, 63));
  zone.filterHz = 3999.0;
  EXPECT_TRUE(RangeFits(zone, 58, 62));
  EXPECT_FALSE(RangeFits(zone, 58, 63));
  zone.filterHz = 4000.0;
  EXPECT_TRUE(RangeFits(zone, 58, 63));
}
