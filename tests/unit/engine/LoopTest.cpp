// A looped sample plays byte for byte like the same sample with its loop
// written out enough times, rendered by the frame-by-frame loop that defines
// every voice: on every mixing path, on generated voices (speeds across the
// whole pitch table, loops of 1, 2, 13 and thousands of frames, loops from
// frame 0 and to the last frame, calls of 1 to 1024 frames, gains beyond the
// vector paths' limit, releases crossing calls in both modes, release times
// of 16, 2048 and 100,000 frames).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "VoiceReference.h"
#include "engine/MixKernels.h"
#include "engine/PitchTable.h"
#include "engine/Voice.h"

namespace {

class LoopTest : public ::testing::TestWithParam<MixPath> {
 protected:
  void SetUp() override {
    BuildPitchTable();
    if (GetParam() == MixPath::kAvx2 && BestMixPath() != MixPath::kAvx2)
      GTEST_SKIP() << "this processor has no AVX2";
    ASSERT_TRUE(UseMixPath(GetParam()));
  }
  void TearDown() override { UseMixPath(BestMixPath()); }

  int32_t Next(uint32_t range) {
    seed_ = seed_ * 1664525u + 1013904223u;
    return static_cast<int32_t>((seed_ >> 8) % range);
  }

  uint32_t seed_ = 1849;
};

// A sample holding frames `from` of the original, in order, with the
// original's rate, base note and release time, and no loop.
std::unique_ptr<Sample> Written(const Sample& original, const std::vector<int32_t>& from) {
  auto out = std::make_unique<Sample>();
  out->Allocate(static_cast<int32_t>(from.size()));
  for (size_t i = 0; i < from.size(); ++i) {
    out->left[i] = original.left[from[i]];
    out->right[i] = original.right[from[i]];
  }
  out->rate = original.rate;
  out->baseNote = original.baseNote;
  out->releaseFrames = original.releaseFrames;
  out->exactPitch = original.exactPitch;
  out->level = original.level;
  out->decayStart = original.decayStart;
  out->decayFactor = original.decayFactor;
  out->sustainLevel = original.sustainLevel;
  return out;
}

int32_t Fold(const Sample& s, int64_t p) {
  const int64_t length = s.loopEnd - s.loopStart + 1;
  return static_cast<int32_t>(p > s.loopEnd ? s.loopStart + (p - s.loopStart) % length : p);
}

TEST_P(LoopTest, PlaysLikeTheLoopWrittenOut) {
  const int32_t loopLengths[] = {1, 2, 13, 0};  // 0: thousands, drawn
  const int32_t releases[] = {16, 2048, 100000};
  std::vector<int16_t> looped(2 * 1024), written(2 * 1024);
  for (int trial = 0; trial < 510; ++trial) {
    SCOPED_TRACE(testing::Message() << "trial " << trial);
    // The whole pitch table, once in each mode.
    const int32_t distance = trial % 255 - 127;
    const bool sustain = trial >= 255;
    const int32_t loopLength = loopLengths[trial % 4] ? loopLengths[trial % 4] : 1000 + Next(6000);
    const int32_t loopStart = trial % 3 == 0 ? 0 : Next(3000);
    const int32_t tail = trial % 5 == 0 ? 0 : 1 + Next(2000);
    Sample original;
    original.Allocate(loopStart + loopLength + tail);
    for (int32_t i = 0; i < original.length; ++i) {
      // Full scale now and then, so that sums clip.
      original.left[i] = static_cast<int16_t>(Next(16) ? Next(65536) - 32768 : 32767);
      original.right[i] = static_cast<int16_t>(Next(16) ? Next(65536) - 32768 : -32768);
    }
    original.rate = trial % 7 == 0 ? 22050 : trial % 11 == 0 ? 48000 : 44100;
    original.baseNote = 64 - distance;
    original.loopMode = sustain ? SAMPLE_LOOP_SUSTAIN : SAMPLE_LOOP_CONTINUOUS;
    original.loopStart = loopStart;
    original.loopEnd = loopStart + loopLength - 1;
    original.releaseFrames = releases[Next(3)];
    // Every third trial with exact pitch, every third shaped as well.
    original.exactPitch = trial % 3 != 0;
    original.level = trial % 3 == 2 ? SAMPLE_FULL_LEVEL - Next(1 << 29) : SAMPLE_FULL_LEVEL;
    original.decayStart = trial % 3 == 2 ? Next(2000) : -1;
    original.decayFactor = SAMPLE_FULL_LEVEL - Next(1 << 26);
    original.sustainLevel = Next(2) ? Next(1 << 28) : 0;
    Instrument instrument;
    Sample* sample = new Sample();
    sample->SetFrames(original.Frames());
    sample->rate = original.rate;
    sample->baseNote = original.baseNote;
    sample->loopMode = original.loopMode;
    sample->loopStart = original.loopStart;
    sample->loopEnd = original.loopEnd;
    sample->releaseFrames = original.releaseFrames;
    sample->exactPitch = original.exactPitch;
    sample->level = original.level;
    sample->decayStart = original.decayStart;
    sample->decayFactor = original.decayFactor;
    sample->sustainLevel = original.sustainLevel;
    instrument.AddSample(sample);
    instrument.noteMap[64] = 0;

    // The calls: mostly whole buffers (the refill's), otherwise any length,
    // as many as the written-out sample may hold at this speed.
    const double perFrame = original.rate * PitchFactor(distance) / 44100.0;
    std::vector<int32_t> calls;
    int64_t frames = 0;
    while (calls.size() < 8) {
      const int32_t n = Next(3) ? 1024 : 1 + Next(1024);
      if (!calls.empty() && (frames + n) * perFrame > 1.6e6) break;
      calls.push_back(n);
      frames += n;
    }
    const int32_t releaseCall = Next(calls.size() + 2);  // at times never
    // Gains 0 to 126 from MIDI values, beyond 255 (the plain path) from larger
    // volumes now and then.
    const int32_t volume = trial % 13 == 0 ? 300 + Next(300) : Next(128);
    Voice voice(64, 0, 1 + Next(127), volume, &instrument);
    voice.position = Next(static_cast<uint32_t>(original.length));
    if (Next(4) == 0) voice.state = VOICE_SUSTAINED;

    // Written out far enough for every position the calls can reach.
    std::vector<int32_t> from;
    const int64_t reach = voice.position + static_cast<int64_t>(frames * perFrame) + 16;
    for (int64_t p = 0; p < reach; ++p) from.push_back(Fold(original, p));
    std::unique_ptr<Sample> out = Written(original, from);
    Voice plain = voice;
    plain.sample = out.get();
    // After a sustain loop is left: the written-out position less the
    // looped voice's.
    int32_t behind = -1;

    for (size_t call = 0; call < calls.size() && voice.state != VOICE_FINISHED; ++call) {
      SCOPED_TRACE(testing::Message() << "call " << call << " of " << calls[call] << " frames");
      if (static_cast<int32_t>(call) == releaseCall) {
        voice.Release();
        plain.state = VOICE_RELEASING;
        plain.releaseCounter = original.releaseFrames;
        if (sustain) {
          // From here the looped voice plays on unfolded to the sample's end:
          // so does the written-out one, from the same frame.
          behind = plain.position - voice.position;
          from.resize(static_cast<size_t>(plain.position));
          for (int32_t p = voice.position; p < original.length; ++p) from.push_back(p);
          std::unique_ptr<Sample> ended = Written(original, from);
          plain.sample = ended.get();
          out = std::move(ended);
        }
      }
      for (size_t i = 0; i < looped.size(); ++i)
        looped[i] = written[i] =
            static_cast<int16_t>(Next(4) == 0 ? Next(65536) - 32768 : Next(400) - 200);
      voice.Render(looped.data(), calls[call]);
      RenderReference(plain, written.data(), calls[call]);
      ASSERT_EQ(looped, written);
      ASSERT_EQ(voice.state, plain.state);
      ASSERT_EQ(voice.velocity, plain.velocity);
      ASSERT_EQ(voice.releaseCounter, plain.releaseCounter);
      if (voice.state != VOICE_FINISHED) {
        ASSERT_EQ(voice.envelope, plain.envelope);
      }
      if (behind >= 0)
        ASSERT_EQ(voice.position, plain.position - behind);
      else
        ASSERT_EQ(voice.position, Fold(original, plain.position));
    }
  }
}

std::string PathName(const ::testing::TestParamInfo<MixPath>& info) {
  return info.param == MixPath::kScalar ? "Scalar" : info.param == MixPath::kSse2 ? "Sse2" : "Avx2";
}
INSTANTIATE_TEST_SUITE_P(EveryPath, LoopTest,
                         ::testing::Values(MixPath::kScalar, MixPath::kSse2, MixPath::kAvx2),
                         PathName);

}  // namespace
