#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "VoiceReference.h"
#include "engine/PitchTable.h"
#include "engine/Voice.h"

namespace {

class VoiceTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildPitchTable(); }

  // Sample 0 of the instrument, mapped to every note; base note 64, rate 44100.
  Sample& Fill(int32_t length, int16_t left, int16_t right) {
    Sample* sample = new Sample();
    sample->Allocate(length);
    for (int32_t i = 0; i < length; ++i) {
      sample->left[i] = left;
      sample->right[i] = right;
    }
    return Add(sample);
  }
  // Left holds value * index: with gain 126 frame i of a buffer then holds
  // (value * index * 126) / 256, which names the frame read when value is 256.
  Sample& Ramp(int32_t length, int16_t step) {
    Sample* sample = new Sample();
    sample->Allocate(length);
    for (int32_t i = 0; i < length; ++i) {
      sample->left[i] = static_cast<int16_t>((i * step) % 32768);
      sample->right[i] = static_cast<int16_t>(-((i * step) % 32768));
    }
    return Add(sample);
  }
  Sample& Add(Sample* sample) {
    const int32_t index = instrument.AddSample(sample);
    for (int32_t& entry : instrument.noteMap) entry = index;
    return *sample;
  }

  Instrument instrument;
  std::vector<int16_t> buffer = std::vector<int16_t>(2 * 4096, 0);
};

TEST_F(VoiceTest, GainIsVolumeTimesVelocityOver128TruncatedPerProduct) {
  Fill(10, 300, -300);
  Voice v78(64, 0, 100, 100, &instrument);  // gain 78
  v78.Render(buffer.data(), 1);
  EXPECT_EQ(buffer[0], 91);
  EXPECT_EQ(buffer[1], -91);

  Instrument loud;
  Sample* extremes = new Sample();
  extremes->Allocate(3);
  extremes->left[0] = 32767, extremes->right[0] = -32768;
  extremes->left[1] = -1, extremes->right[1] = 1;
  extremes->left[2] = 255, extremes->right[2] = -255;
  loud.AddSample(extremes);
  loud.noteMap[64] = 0;
  std::vector<int16_t> out(6, 0);
  Voice v126(64, 0, 127, 127, &loud);  // gain 126
  v126.Render(out.data(), 3);
  EXPECT_EQ(out, (std::vector<int16_t>{16127, -16128, 0, 0, 125, -125}));
}

TEST_F(VoiceTest, EveryAdditionSaturates) {
  Fill(4, 32767, -32768);
  buffer[0] = 20000, buffer[1] = -20000;
  buffer[2] = 32767, buffer[3] = -32768;
  buffer[4] = -20000, buffer[5] = 20000;
  Voice voice(64, 0, 127, 127, &instrument);
  voice.Render(buffer.data(), 3);
  EXPECT_EQ(buffer[0], 32767);
  EXPECT_EQ(buffer[1], -32768);
  EXPECT_EQ(buffer[2], 32767);
  EXPECT_EQ(buffer[3], -32768);
  EXPECT_EQ(buffer[4], -3873);
  EXPECT_EQ(buffer[5], 3872);
}

TEST_F(VoiceTest, BaseNoteReadsConsecutiveFramesFromThePosition) {
  Ramp(3000, 1);
  Voice voice(64, 0, 127, 127, &instrument);
  voice.position = 500;
  voice.Render(buffer.data(), 1024);
  EXPECT_EQ(voice.position, 1524);
  for (int k = 0; k < 1024; ++k) ASSERT_EQ(buffer[2 * k], ((500 + k) * 126) / 256) << k;
  EXPECT_EQ(voice.state, VOICE_PLAYING);
}

TEST_F(VoiceTest, TwelveBelowReadsEachFrameTwiceMinusTheRoundingAndAdvances511) {
  Ramp(2000, 256);  // frames 0..127 decode exactly
  Voice voice(52, 0, 127, 127, &instrument);
  voice.Render(buffer.data(), 1024);
  EXPECT_EQ(voice.position, 511);
  std::vector<int> read;
  for (int k = 0; k < 8; ++k) read.push_back(buffer[2 * k] / 126);
  EXPECT_EQ(read, (std::vector<int>{0, 0, 0, 1, 1, 2, 2, 3}));
}

TEST_F(VoiceTest, AdvancePerCallAboveTheBaseNote) {
  Ramp(10000, 1);
  const struct {
    int32_t note;
    int32_t advance;
  } cases[] = {{65, 1084}, {71, 1534}, {76, 2048}, {64, 1024}};
  for (const auto& c : cases) {
    Voice voice(c.note, 0, 100, 100, &instrument);
    voice.Render(buffer.data(), 1024);
    EXPECT_EQ(voice.position, c.advance) << "note " << c.note;
    voice.Render(buffer.data(), 1024);  // from the previous end, not accumulated
    EXPECT_EQ(voice.position, 2 * c.advance) << "note " << c.note;
  }
}

TEST_F(VoiceTest, EmptySampleFinishesAtOnceWithoutTouchingTheBuffer) {
  Add(new Sample());
  buffer[0] = 7;
  Voice voice(64, 0, 100, 100, &instrument);
  voice.Render(buffer.data(), 1024);
  EXPECT_EQ(voice.state, VOICE_FINISHED);
  EXPECT_EQ(buffer[0], 7);
  EXPECT_EQ(buffer[1], 0);
}

TEST_F(VoiceTest, SampleEndingMidCallLeavesTheRestOfTheBuffer) {
  Fill(1500, 1000, 1000);
  Voice voice(64, 0, 127, 127, &instrument);
  voice.position = 1000;
  voice.Render(buffer.data(), 1024);
  EXPECT_EQ(voice.state, VOICE_FINISHED);
  EXPECT_EQ(voice.position, 1500);
  EXPECT_EQ(buffer[2 * 499], 492);
  EXPECT_EQ(buffer[2 * 499 + 1], 492);
  EXPECT_EQ(buffer[2 * 500], 0);
  EXPECT_EQ(buffer[2 * 1023 + 1], 0);
}

TEST_F(VoiceTest, ZeroOrNegativeFrameCountChangesNothing) {
  Fill(10, 1000, 1000);
  Voice voice(64, 0, 100, 100, &instrument);
  voice.position = 50;  // past the end
  voice.Render(buffer.data(), 0);
  voice.Render(buffer.data(), -5);
  EXPECT_EQ(voice.state, VOICE_PLAYING);
  EXPECT_EQ(voice.position, 50);
}

TEST_F(VoiceTest, VolumeZeroAddsNothingButRunsToTheSampleEnd) {
  Fill(3000, 32767, 32767);
  Voice voice(64, 0, 127, 0, &instrument);
  voice.Render(buffer.data(), 2048);
  EXPECT_EQ(voice.position, 2048);
  voice.Render(buffer.data() + 4096, 2048);
  EXPECT_EQ(voice.state, VOICE_FINISHED);
  EXPECT_EQ(voice.position, 3000);
  for (int16_t v : buffer) ASSERT_EQ(v, 0);
}

TEST_F(VoiceTest, ReleaseOfVelocity127EndsAtFrame1009OfTheSecondCall) {
  Fill(100000, 1000, -1000);
  Voice voice(64, 0, 127, 127, &instrument);
  voice.state = VOICE_RELEASING;
  voice.releaseCounter = 2048;
  voice.Render(buffer.data(), 1024);
  EXPECT_EQ(voice.velocity, 64);
  EXPECT_EQ(voice.releaseCounter, 1024);
  EXPECT_EQ(buffer[2 * 1023], (1000 * 126) / 256);  // full gain to the end of the call

  std::vector<int16_t> second(2 * 1024, 0);
  voice.Render(second.data(), 1024);
  EXPECT_EQ(voice.state, VOICE_FINISHED);
  EXPECT_EQ(voice.velocity, 0);
  EXPECT_EQ(voice.releaseCounter, 15);
  EXPECT_EQ(voice.position, 2032);  // frame 1008's mixed, the position not advanced
  const int16_t gain64 = static_cast<int16_t>((1000 * ((127 * 64) / 128)) / 256);
  EXPECT_EQ(second[2 * 1008], gain64);
  EXPECT_EQ(second[2 * 1008 + 1], -gain64);
  EXPECT_EQ(second[2 * 1009], 0);
}

TEST_F(VoiceTest, ReleaseTimelineAcrossUnevenCalls) {
  Fill(100000, 1000, 1000);
  // Velocity falls first at released frame 17 for 127, 449 for 100 and 1025
  // for 64, and always reaches 0 at frame 2033.
  const struct {
    int32_t velocity;
    int32_t firstFall;
  } cases[] = {{127, 17}, {100, 449}, {64, 1025}, {1, 2033}};
  for (const auto& c : cases) {
    Voice voice(64, 0, c.velocity, 100, &instrument);
    voice.state = VOICE_RELEASING;
    voice.releaseCounter = 2048;
    const int32_t chunks[] = {7, 300, 1000, 1, 1024};
    int32_t rendered = 0;
    for (int32_t chunk = 0; voice.state != VOICE_FINISHED; chunk = (chunk + 1) % 5) {
      const int32_t n = chunks[chunk];
      voice.Render(buffer.data(), n);
      if (voice.state == VOICE_FINISHED) {
        rendered += 2048 - 15 - rendered;  // where it stopped, from the counter
        EXPECT_EQ(voice.releaseCounter, 15);
        break;
      }
      rendered += n;
      const int32_t expected = std::min(c.velocity, (2048 - rendered) / 16);
      ASSERT_EQ(voice.velocity, expected) << "velocity " << c.velocity << " after " << rendered;
      if (rendered < c.firstFall) {
        EXPECT_EQ(voice.velocity, c.velocity);
      }
    }
    EXPECT_EQ(voice.velocity, 0);
    EXPECT_EQ(2048 - voice.releaseCounter, 2033) << "velocity " << c.velocity;
  }
}

TEST_F(VoiceTest, FinishedVoiceNeverChangesTheBuffer) {
  Fill(100, 1000, 1000);
  Voice ended(64, 0, 100, 100, &instrument);
  ended.state = VOICE_FINISHED;
  ended.position = 100;
  ended.Render(buffer.data(), 1024);
  Voice faded(64, 0, 100, 100, &instrument);
  faded.state = VOICE_FINISHED;
  faded.velocity = 0;
  faded.Render(buffer.data(), 1024);
  for (int16_t v : buffer) ASSERT_EQ(v, 0);
}

TEST_F(VoiceTest, DistanceBeyondThePitchTableUsesItsNearestEntry) {
  Sample& sample = Ramp(100000, 1);
  sample.baseNote = INT32_MIN;  // note minus base far above +127, without overflow
  Voice high(127, 0, 100, 100, &instrument);
  high.Render(buffer.data(), 3);
  sample.baseNote = 0;
  Voice edge(127, 0, 100, 100, &instrument);
  edge.Render(buffer.data(), 3);
  EXPECT_EQ(high.position, edge.position);
  EXPECT_EQ(edge.position, 4602);  // 3 x 1534.27

  sample.baseNote = 1000;
  Voice low(0, 0, 100, 100, &instrument);
  low.Render(buffer.data(), 2000);
  EXPECT_EQ(low.position, 1);  // 2000 x 0.00065 = 1.3
}

TEST_F(VoiceTest, NonPositiveRateHoldsTheFirstFrame) {
  Sample& sample = Fill(100, 1000, 1000);
  sample.left[1] = sample.right[1] = 0;
  for (int32_t rate : {0, -44100}) {
    sample.rate = rate;
    std::vector<int16_t> out(2 * 64, 5);
    Voice voice(64, 0, 127, 127, &instrument);
    voice.Render(out.data(), 64);
    EXPECT_EQ(voice.position, 0) << rate;
    EXPECT_EQ(voice.state, VOICE_PLAYING) << rate;
    for (int16_t v : out) ASSERT_EQ(v, 5 + 492) << rate;
  }
}

TEST_F(VoiceTest, PositionSaturatesInsteadOfOverflowing) {
  // A sample as long as a position can count. Only its last 16 frames exist:
  // the arrays are placed so that those are the ones indexed.
  std::vector<int16_t> tail(16, 1000);
  Sample* huge = new Sample();
  huge->length = INT32_MAX;
  huge->left = huge->right = reinterpret_cast<int16_t*>(
      reinterpret_cast<uintptr_t>(tail.data()) - (uintptr_t{INT32_MAX} - 16) * sizeof(int16_t));
  Add(huge);
  huge->baseNote = 0;
  Voice voice(127, 0, 127, 127, &instrument);  // 1534 frames per frame
  voice.position = INT32_MAX - 16;
  voice.Render(buffer.data(), 8);
  EXPECT_EQ(voice.position, INT32_MAX);
  EXPECT_EQ(voice.state, VOICE_FINISHED);
  EXPECT_EQ(buffer[0], 492);
  EXPECT_EQ(buffer[2], 0);
  huge->left = huge->right = nullptr;
  huge->length = 0;
}

// The engine's Render against the plain loop on many random voices: sample
// lengths, rates and base notes, notes, gains up to beyond 255, positions
// before and past the end, releases at any point, buffers near saturation,
// frame counts that are not multiples of the vector width.
TEST_F(VoiceTest, MatchesTheReferenceLoopBitForBit) {
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int32_t>((seed >> 8) % range);
  };
  const int32_t rates[] = {44100, 22050, 48000, 8000, 96000, 11025, 0, -1};
  for (int32_t k = 0; k < 8; ++k) {
    Sample* sample = new Sample();
    sample->Allocate(k == 7 ? 1 : 1 + next(40000));
    for (int32_t i = 0; i < sample->length; ++i) {
      sample->left[i] = static_cast<int16_t>(next(65536) - 32768);
      sample->right[i] = static_cast<int16_t>(next(65536) - 32768);
    }
    sample->rate = rates[k];
    sample->baseNote = next(128);
    instrument.AddSample(sample);
  }
  std::vector<int16_t> fast(2 * 1100), slow(2 * 1100);
  for (int trial = 0; trial < 4000; ++trial) {
    const int32_t note = next(128);
    instrument.noteMap[note] = next(8);
    const Sample& sample = *instrument.samples[instrument.noteMap[note]];
    const int32_t volume = trial % 10 == 0 ? next(400) : next(128);
    Voice a(note, 0, 1 + next(127), volume, &instrument);
    a.position = next(static_cast<uint32_t>(sample.length) + 50);
    if (next(3) == 0) {
      a.state = VOICE_RELEASING;
      a.releaseCounter = next(2100) - 20;
      if (next(10) == 0) a.velocity = 0;
    } else if (next(4) == 0) {
      a.state = VOICE_SUSTAINED;
    }
    Voice b = a;
    for (size_t i = 0; i < fast.size(); ++i)
      fast[i] = slow[i] = static_cast<int16_t>(next(3) == 0 ? next(65536) - 32768 : next(200));
    const int32_t frames = next(1100);
    a.Render(fast.data(), frames);
    RenderReference(b, slow.data(), frames);
    ASSERT_EQ(fast, slow) << "trial " << trial;
    ASSERT_EQ(a.position, b.position) << "trial " << trial;
    ASSERT_EQ(a.state, b.state) << "trial " << trial;
    ASSERT_EQ(a.velocity, b.velocity) << "trial " << trial;
    ASSERT_EQ(a.releaseCounter, b.releaseCounter) << "trial " << trial;
  }
}

}  // namespace
