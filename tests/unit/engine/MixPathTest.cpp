// Every mixing path (plain C++, SSE2, AVX2 where the processor has it) against
// the frame-by-frame loop, call after call, on generated voices.
#include <gtest/gtest.h>

#include <vector>

#include "VoiceReference.h"
#include "engine/MixKernels.h"
#include "engine/PitchTable.h"
#include "engine/Voice.h"
#include "support/Bits.h"

namespace {

class MixPathTest : public ::testing::TestWithParam<MixPath> {
 protected:
  void SetUp() override {
    BuildPitchTable();
    if (GetParam() == MixPath::kAvx2 && BestMixPath() != MixPath::kAvx2)
      GTEST_SKIP() << "this processor has no AVX2";
    ASSERT_TRUE(UseMixPath(GetParam()));
    ASSERT_EQ(CurrentMixPath(), GetParam());
  }
  void TearDown() override { UseMixPath(BestMixPath()); }

  int32_t Next(uint32_t range) {
    seed_ = seed_ * 1664525u + 1013904223u;
    return static_cast<int32_t>((seed_ >> 8) % range);
  }

  uint32_t seed_ = 2024;
};

TEST_P(MixPathTest, MatchesTheFrameByFrameLoopCallAfterCall) {
  // Rates include 0, negative, and ones so fast that no offset table fits.
  const int32_t rates[] = {44100, 22050, 48000, 8000, 96000, 11025, 0, -1, 192000, 1};
  Instrument instrument;
  for (int32_t rate : rates) {
    Sample* sample = new Sample();
    sample->Allocate(rate == 8000 ? 7 : 1 + Next(60000));
    for (int32_t i = 0; i < sample->length; ++i) {
      // Full scale now and then: the magnitude of -32768 and clipping sums.
      const bool extreme = Next(16) == 0;
      sample->left[i] =
          static_cast<int16_t>(extreme ? (Next(2) ? 32767 : -32768) : Next(65536) - 32768);
      sample->right[i] = static_cast<int16_t>(Next(65536) - 32768);
    }
    sample->rate = rate;
    instrument.AddSample(sample);
  }
  std::vector<int16_t> fast(2 * 1100), slow(2 * 1100);
  for (int trial = 0; trial < 1500; ++trial) {
    const int32_t note = Next(128);
    instrument.noteMap[note] = Next(10);
    Sample& sample = *instrument.samples[instrument.noteMap[note]];
    // Every distance of the pitch table in turn, and now and then one beyond it.
    const int32_t distance =
        trial % 8 == 7 ? (Next(2) ? 1 : -1) * (128 + Next(2000)) : trial % 255 - 127;
    sample.baseNote = note - distance;
    // Gains 0 to 126 from MIDI values, beyond from larger volumes: 254 to
    // 257 at full velocity straddle the vector paths' limit.
    const bool edge = trial % 17 == 0;
    const int32_t volume = edge              ? 257 + trial % 4
                           : trial % 9 == 0  ? Next(600)
                           : trial % 13 == 0 ? 0
                                             : Next(128);
    // A third plain, a third with exact pitch, a third shaped: a level, a
    // decay from any frame, to a sustain or to silence.
    sample.exactPitch = trial % 3 == 1;
    sample.level = trial % 3 == 2 ? SAMPLE_FULL_LEVEL - Next(1 << 30) : SAMPLE_FULL_LEVEL;
    sample.decayStart = trial % 3 == 2 && Next(4) ? Next(3000) : -1;
    sample.decayFactor = SAMPLE_FULL_LEVEL - Next(1 << 27);
    sample.sustainLevel = Next(2) ? Next(static_cast<uint32_t>(sample.level)) : 0;
    Voice fastVoice(note, 0, edge ? 127 : 1 + Next(127), volume, &instrument);
    fastVoice.position = Next(static_cast<uint32_t>(sample.length) + 40);
    if (Next(5) == 0) fastVoice.state = VOICE_SUSTAINED;
    Voice slowVoice = fastVoice;
    for (int call = 0; call < 6 && fastVoice.state != VOICE_FINISHED; ++call) {
      // Mostly whole buffers (the refill's calls), otherwise any length.
      const int32_t frames = Next(3) ? 1024 : Next(1100);
      if (fastVoice.state != VOICE_RELEASING && Next(3) == 0) {
        // A release at any point, so that fades cross calls; fades of the
        // usual 2048 frames and of the shortest and a long release time.
        sample.releaseFrames = trial % 4 == 1 ? 16 : trial % 4 == 3 ? 100000 : VOICE_RELEASE_FRAMES;
        fastVoice.state = slowVoice.state = VOICE_RELEASING;
        fastVoice.releaseCounter = slowVoice.releaseCounter = sample.releaseFrames - Next(16);
      }
      for (size_t i = 0; i < fast.size(); ++i)
        fast[i] = slow[i] =
            static_cast<int16_t>(Next(4) == 0 ? Next(65536) - 32768 : Next(400) - 200);
      fastVoice.Render(fast.data(), frames);
      RenderReference(slowVoice, slow.data(), frames);
      ASSERT_EQ(fast, slow) << "trial " << trial << " call " << call;
      ASSERT_EQ(fastVoice.position, slowVoice.position) << "trial " << trial << " call " << call;
      ASSERT_EQ(fastVoice.state, slowVoice.state) << "trial " << trial << " call " << call;
      ASSERT_EQ(fastVoice.velocity, slowVoice.velocity) << "trial " << trial << " call " << call;
      ASSERT_EQ(fastVoice.releaseCounter, slowVoice.releaseCounter) << "trial " << trial;
      ASSERT_EQ(fastVoice.fraction, slowVoice.fraction) << "trial " << trial;
      // (A finished voice's level is never read again.)
      if (fastVoice.state != VOICE_FINISHED) {
        ASSERT_EQ(fastVoice.envelope, slowVoice.envelope) << "trial " << trial;
      }
    }
  }
}

std::string PathName(const ::testing::TestParamInfo<MixPath>& info) {
  return info.param == MixPath::kScalar ? "Scalar" : info.param == MixPath::kSse2 ? "Sse2" : "Avx2";
}
INSTANTIATE_TEST_SUITE_P(EveryPath, MixPathTest,
                         ::testing::Values(MixPath::kScalar, MixPath::kSse2, MixPath::kAvx2),
                         PathName);

TEST(OffsetTable, HoldsTheDirectOffsetsAndRefusesStepsBeyondAByte) {
  EXPECT_EQ(BitsOf(kOneOverOutputRate), 0x3EF7C6F8C751F177ull);

  BuildPitchTable();
  OffsetTable table;
  // Twelve notes below the base at 44100 frames per second.
  ASSERT_TRUE(table.Build(44100 * PitchFactor(-12)));
  EXPECT_EQ(table.Offset(1024), 511);
  EXPECT_EQ(table.span, 4);
  for (int32_t k = 0; k <= 1024; ++k) ASSERT_EQ(table.Offset(k), OffsetAt(table.speed, k)) << k;
  // The frames before the sample's end: those whose position start + T(k)
  // lies below it, the same as counting one by one.
  for (int32_t length : {1000, 1001, 1299, 1300, 1301, 1510, 1511, 1512}) {
    int32_t playing = 0;
    while (playing < 1024 && 1000 + OffsetAt(table.speed, playing) < length) ++playing;
    EXPECT_EQ(table.FramesBefore(1000, length, 1024), playing) << length;
  }
  EXPECT_EQ(table.FramesBefore(0, 100000, 700), 700);

  // 255 sample frames per eight output frames still fit; more do not.
  EXPECT_TRUE(table.Build(44100.0 * 255 / 7));
  EXPECT_GE(table.span, 254);
  EXPECT_FALSE(table.Build(44100.0 * 300 / 7));
  EXPECT_FALSE(table.usable);
}

}  // namespace
