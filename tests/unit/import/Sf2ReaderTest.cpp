// The SoundFont reader and the generator resolution on small fonts built
// by the tests.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/import/Sf2Reader.h"
#include "tools/import/SoundFontImport.h"
#include "tools/import/ZoneResolver.h"
#include "unit/import/SoundFontBytes.h"

using namespace sf2;
using B = SoundFontBytes;

namespace {

// One preset over one instrument with a global zone and two local zones.
B LayeredFont() {
  B font;
  font.SetFrames(std::vector<int16_t>(400, 1000));
  font.AddSample({"Tone", 0, 200, 50, 150, 22050, 60, -3, 0, kMonoSample});
  font.AddSample({"Tone2", 200, 400, 250, 350, 44100, 72, 0, 0, kMonoSample});
  font.Preset("Lead", 5, 0);
  font.PresetZone({{kKeyRange, B::Range(40, 80)},
                   {kCoarseTune, B::Amount(1)},
                   {kInitialAttenuation, B::Amount(50)},
                   {kFineTune, B::Amount(60)},
                   {kSampleModes, B::Amount(1)},  // instrument-only: ignored here
                   {kInstrument, 0}});
  font.Instrument("LeadInst");
  font.InstrumentZone({{kCoarseTune, B::Amount(2)},
                       {kInitialAttenuation, B::Amount(100)},
                       {kFineTune, B::Amount(50)}});  // global: no sampleID
  font.InstrumentZone({{kKeyRange, B::Range(0, 60)}, {kCoarseTune, B::Amount(5)}, {kSampleId, 0}});
  font.InstrumentZone({{kKeyRange, B::Range(50, 127)}, {kSampleId, 1}});
  return font;
}

}  // namespace

TEST(Sf2Reader, GlobalZoneDefaultsLocalOverridesPresetAddsRangesIntersectAndSumsClamp) {
  const std::vector<uint8_t> bytes = LayeredFont().Build();
  SoundFont font;
  std::string error;
  ASSERT_TRUE(ReadSoundFont(bytes.data(), bytes.size(), &font, &error)) << error;
  ASSERT_EQ(font.presets.size(), 1u);
  std::vector<std::string> dropped;
  const std::vector<ResolvedZone> zones = ResolvePreset(font, 0, &dropped);
  ASSERT_EQ(zones.size(), 2u);
  // The local zone's coarse tune replaces the global one; the preset's adds.
  EXPECT_EQ(zones[0].gen[kCoarseTune], 6);
  EXPECT_EQ(zones[1].gen[kCoarseTune], 3);
  EXPECT_EQ(zones[0].gen[kInitialAttenuation], 150);
  EXPECT_EQ(zones[1].gen[kInitialAttenuation], 150);
  // 50 + 60 is clamped to the fine tune's 99.
  EXPECT_EQ(zones[0].gen[kFineTune], 99);
  EXPECT_EQ(zones[0].gen[kSampleModes], 0);
  EXPECT_EQ(zones[0].gen[kScaleTuning], 100);
  EXPECT_EQ(zones[0].gen[kOverridingRootKey], -1);
  EXPECT_EQ(zones[0].keyLo, 40);
  EXPECT_EQ(zones[0].keyHi, 60);
  EXPECT_EQ(zones[1].keyLo, 50);
  EXPECT_EQ(zones[1].keyHi, 80);
  EXPECT_TRUE(dropped.empty());
}

TEST(Sf2Reader, ListChunkWithoutItsPadByteIsRead) {
  B builder = LayeredFont();
  builder.SetName("Odd", false);
  const std::vector<uint8_t> bytes = builder.Build();
  SoundFont font;
  std::string error;
  ASSERT_TRUE(ReadSoundFont(bytes.data(), bytes.size(), &font, &error)) << error;
  EXPECT_EQ(font.name, "Odd");
  EXPECT_EQ(font.samples.size(), 2u);
}

TEST(Sf2Reader, TruncatedAndCorruptedFontsAreOneLine) {
  const std::vector<uint8_t> bytes = LayeredFont().Build();
  SoundFont font;
  std::string error;
  EXPECT_FALSE(ReadSoundFont(bytes.data(), bytes.size() - 100, &font, &error));
  EXPECT_EQ(error, "the file is truncated");
  EXPECT_FALSE(ReadSoundFont(bytes.data(), 11, &font, &error));
  EXPECT_EQ(error, "not a SoundFont (no RIFF 'sfbk' header)");
  // A preset whose zone index points past the bag list.
  std::vector<uint8_t> broken = bytes;
  const std::string tag = "phdr";
  auto at = std::search(broken.begin(), broken.end(), tag.begin(), tag.end());
  ASSERT_NE(at, broken.end());
  const size_t terminal = static_cast<size_t>(at - broken.begin()) + 8 + 38 + 24;
  broken[terminal] = 0xFF;
  EXPECT_FALSE(ReadSoundFont(broken.data(), broken.size(), &font, &error));
  EXPECT_EQ(error, "the zone indices of 'Lead' are out of order or out of range");
}

TEST(Sf2Reader, LeftAndRightSamplesOfOneRangeBecomeOneStereoZone) {
  B builder;
  std::vector<int16_t> frames(200);
  for (int i = 0; i < 100; ++i) frames[static_cast<size_t>(i)] = 1000;     // left
  for (int i = 100; i < 200; ++i) frames[static_cast<size_t>(i)] = -2000;  // right
  builder.SetFrames(frames);
  builder.AddSample({"L", 0, 100, 10, 90, 44100, 60, 0, 1, kLeftSample});
  builder.AddSample({"R", 100, 200, 110, 190, 44100, 60, 0, 0, kRightSample});
  builder.Preset("Pad", 0, 0);
  builder.PresetZone({{kInstrument, 0}});
  builder.Instrument("PadInst");
  builder.InstrumentZone({{kPan, B::Amount(-500)}, {kSampleModes, 1}, {kSampleId, 0}});
  builder.InstrumentZone({{kPan, B::Amount(500)}, {kSampleModes, 1}, {kSampleId, 1}});
  const std::vector<uint8_t> bytes = builder.Build();
  SoundFont font;
  std::string error;
  ASSERT_TRUE(ReadSoundFont(bytes.data(), bytes.size(), &font, &error)) << error;
  ImportInstrument instrument;
  std::vector<std::shared_ptr<const SourceAudio>> cache;
  ASSERT_TRUE(BuildSoundFontInstrument(font, bytes.data(), 0, 100, &instrument, &cache, &error));
  ASSERT_EQ(instrument.zones.size(), 1u);
  const ImportZone& zone = instrument.zones[0];
  EXPECT_EQ(zone.sources, 2);
  EXPECT_FLOAT_EQ(zone.audio[0]->At(0, 0), 1000 / 32768.0f);
  EXPECT_FLOAT_EQ(zone.audio[1]->At(0, 0), -2000 / 32768.0f);
  // Hard left and hard right: each side hears only its own sample.
  EXPECT_NEAR(zone.gain[0][0], std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(zone.gain[1][0], 0.0, 1e-12);
  EXPECT_NEAR(zone.gain[0][1], 0.0, 1e-12);
  EXPECT_NEAR(zone.gain[1][1], std::sqrt(2.0), 1e-12);
  // The loop counts from the sample's own start.
  EXPECT_EQ(zone.loopStart, 10);
  EXPECT_EQ(zone.loopEnd, 90);
  EXPECT_EQ(zone.loop, LoopMode::kContinuous);
  EXPECT_TRUE(instrument.dropped.empty());
}

TEST(Sf2Reader, Sf3SamplesAreOggStreamsAtByteOffsetsWithLoopsFromTheirOwnStart) {
  // Two Ogg Vorbis streams of 4410 frames, back to back.
  auto ogg = [](float value) {
    const std::string path = std::filesystem::temp_directory_path() / "pelvane-import-test.ogg";
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr);
    std::vector<float> frames(4410);
    for (size_t i = 0; i < frames.size(); ++i)
      frames[i] = value * static_cast<float>(std::sin(2 * M_PI * 441.0 * i / 44100.0));
    sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size()));
    sf_close(file);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(path);
    return bytes;
  };
  std::vector<uint8_t> data = ogg(0.25f);
  const uint32_t second = static_cast<uint32_t>(data.size());
  const std::vector<uint8_t> other = ogg(0.5f);
  data.insert(data.end(), other.begin(), other.end());
  B builder;
  builder.SetData(data);
  builder.AddSample({"A", 0, second, 100, 1100, 44100, 60, 0, 0, kMonoSample | kOggVorbis});
  builder.AddSample({"B", second, static_cast<uint32_t>(data.size()), 200, 2200, 44100, 69, 0, 0,
                     kMonoSample | kOggVorbis});
  builder.Preset("Sf3", 0, 0);
  builder.PresetZone({{kInstrument, 0}});
  builder.Instrument("Sf3Inst");
  builder.InstrumentZone({{kKeyRange, B::Range(0, 64)}, {kSampleModes, 1}, {kSampleId, 0}});
  builder.InstrumentZone({{kKeyRange, B::Range(65, 127)}, {kSampleModes, 3}, {kSampleId, 1}});
  const std::vector<uint8_t> bytes = builder.Build();
  SoundFont font;
  std::string error;
  ASSERT_TRUE(ReadSoundFont(bytes.data(), bytes.size(), &font, &error)) << error;
  EXPECT_TRUE(font.compressed);
  ImportInstrument instrument;
  std::vector<std::shared_ptr<const SourceAudio>> cache;
  ASSERT_TRUE(BuildSoundFontInstrument(font, bytes.data(), 0, 100, &instrument, &cache, &error));
  ASSERT_EQ(instrument.zones.size(), 2u)
      << (instrument.dropped.empty() ? "" : instrument.dropped[0]);
  EXPECT_EQ(instrument.zones[0].audio[0]->FrameCount(), 4410u);
  EXPECT_EQ(instrument.zones[0].loopStart, 100);
  EXPECT_EQ(instrument.zones[0].loopEnd, 1100);
  EXPECT_EQ(instrument.zones[1].loopStart, 200);
  EXPECT_EQ(instrument.zones[1].loop, LoopMode::kSustain);
  EXPECT_EQ(instrument.zones[1].rootKey, 69);
  // The second stream decodes to its own level, not the first one's.
  float peak = 0.0f;
  for (float v : instrument.zones[1].audio[0]->frames) peak = std::max(peak, std::fabs(v));
  EXPECT_NEAR(peak, 0.5f, 0.03f);
}

TEST(Sf2Reader, UnlinkedMonoSamplesPannedApartJoinOrPlayOnBothSides) {
  auto build = [](uint32_t rightLoopStart, int16_t rightModes) {
    B builder;
    builder.SetFrames(std::vector<int16_t>(200, 500));
    builder.AddSample({"SL", 0, 100, 10, 90, 44100, 60, 0, 0, kMonoSample});
    builder.AddSample({"SR", 100, 200, 100 + rightLoopStart, 190, 44100, 60, 0, 0, kMonoSample});
    builder.Preset("Str", 0, 0);
    builder.PresetZone({{kInstrument, 0}});
    builder.Instrument("StrInst");
    builder.InstrumentZone({{kPan, B::Amount(500)}, {kSampleModes, rightModes}, {kSampleId, 1}});
    builder.InstrumentZone({{kPan, B::Amount(-500)}, {kSampleModes, 1}, {kSampleId, 0}});
    return builder.Build();
  };
  // The same loop; another loop; a right side without a loop.
  for (int shape = 0; shape < 3; ++shape) {
    const std::vector<uint8_t> bytes = build(shape == 1 ? 20 : 10, shape == 2 ? 0 : 1);
    SoundFont font;
    std::string error;
    ASSERT_TRUE(ReadSoundFont(bytes.data(), bytes.size(), &font, &error)) << error;
    ImportInstrument instrument;
    std::vector<std::shared_ptr<const SourceAudio>> cache;
    ASSERT_TRUE(BuildSoundFontInstrument(font, bytes.data(), 0, 100, &instrument, &cache, &error));
    ASSERT_EQ(instrument.zones.size(), 1u);
    const ImportZone& zone = instrument.zones[0];
    EXPECT_EQ(zone.name, "SL");  // the left side first, whatever the zones' order
    EXPECT_TRUE(instrument.dropped.empty());
    if (shape < 2) {
      EXPECT_EQ(zone.sources, 2);
      EXPECT_EQ(zone.audio[1]->name, "SR");
      EXPECT_NEAR(zone.gain[1][1], std::sqrt(2.0), 1e-12);
      EXPECT_EQ(zone.secondApart, shape == 1);
    }
    if (shape == 1) {
      // Its own loop, played on within the left side's file.
      EXPECT_EQ(zone.second.loopStart, 20);
      EXPECT_EQ(zone.second.loopEnd, 90);
      ASSERT_EQ(instrument.approximations.size(), 1u);
      EXPECT_EQ(instrument.approximations[0],
                "'SR' is looped as 'SL' is, fading across its own loop's seam");
    }
    if (shape == 2) {
      // One side loops, the other does not: the left plays on both sides at
      // its side's level.
      EXPECT_EQ(zone.sources, 1);
      EXPECT_NEAR(zone.gain[0][0], std::sqrt(2.0), 1e-12);
      EXPECT_NEAR(zone.gain[1][0], std::sqrt(2.0), 1e-12);
      ASSERT_EQ(instrument.approximations.size(), 1u);
      EXPECT_EQ(instrument.approximations[0],
                "'SL' plays on both sides: 'SR' has another length or loop");
    }
  }
}
