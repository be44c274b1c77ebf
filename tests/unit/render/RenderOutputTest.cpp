// The output stage of a render: --gain and --rate between the engine and the
// WAV writer, and the header of a WAV file streamed into a pipe.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "ScratchFolder.h"
#include "tools/RateStage.h"
#include "tools/RenderOutput.h"
#include "tools/WavWriter.h"

using Bytes = std::vector<uint8_t>;

namespace {
std::vector<int16_t> Samples(const Bytes& wav) {
  std::vector<int16_t> samples((wav.size() - 44) / 2);
  std::memcpy(samples.data(), wav.data() + 44, samples.size() * 2);
  return samples;
}
}  // namespace

TEST(RenderOutput, GainRoundsToTheNearestStepAndHoldsFullScale) {
  ScratchFolder folder;
  WavWriter wav;
  RenderOutput output;
  std::string error;
  ASSERT_TRUE(output.Prepare(44100, 20.0 * std::log10(2.0), &wav, &error)) << error;
  ASSERT_TRUE(wav.Open(folder.File("out.wav")));
  const int16_t frames[] = {1000, -1000, 3, 20000, -20000, 0};
  ASSERT_TRUE(output.Write(frames, 3));
  ASSERT_TRUE(output.Flush() && wav.Finish());
  EXPECT_EQ(Samples(ScratchFolder::Read(folder.File("out.wav"))),
            (std::vector<int16_t>{2000, -2000, 6, 32767, -32768, 0}));
  EXPECT_EQ(RenderOutput::Quantize(-0.5 / 32768.0), 0);  // halves go to the even step
  EXPECT_EQ(RenderOutput::Quantize(1.5 / 32768.0), 2);
}

TEST(RenderOutput, AStreamKeepsTheStreamingSizesAndTheRate) {
  ScratchFolder folder;
  std::FILE* stream = std::fopen(folder.File("pipe.wav").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  WavWriter wav;
  ASSERT_TRUE(wav.OpenStream(stream, 48000));
  const int16_t frames[] = {1, 2};
  ASSERT_TRUE(wav.Write(frames, 1));
  ASSERT_TRUE(wav.Finish()) << wav.Error();
  std::fclose(stream);
  const Bytes bytes = ScratchFolder::Read(folder.File("pipe.wav"));
  ASSERT_EQ(bytes.size(), 48u);
  const Bytes all = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 8), all);
  EXPECT_EQ(Bytes(bytes.begin() + 40, bytes.begin() + 44), all);
  EXPECT_EQ(Bytes(bytes.begin() + 24, bytes.begin() + 32),
            (Bytes{0x80, 0xBB, 0, 0, 0x00, 0xEE, 0x02, 0}));  // 48000 frames/s, 192000 bytes/s
}

TEST(RateStage, PushedInPiecesGivesTheFramesOfOneWholePush) {
  std::vector<int16_t> sine(2 * 44100);
  for (size_t i = 0; i < sine.size(); ++i)
    sine[i] = static_cast<int16_t>(
        std::lrint(16384 * std::sin(2 * 3.141592653589793 * 1000.0 * (i / 2) / 44100)));
  // From the lowest rate to the highest: the converter reads further ahead
  // the more it shrinks the rate.
  for (uint32_t rate : {8000u, 48000u, 384000u}) {
    std::string error;
    RateStage whole;
    if (!whole.Prepare(rate, &error)) GTEST_SKIP() << error;  // no converter in this build
    std::vector<float> once;
    whole.Push(sine.data(), 44100, &once);
    whole.Finish(&once);

    RateStage pieces;
    ASSERT_TRUE(pieces.Prepare(rate, &error));
    std::vector<float> chunked;
    for (uint32_t at = 0; at < 44100; at += 1000)
      pieces.Push(sine.data() + 2 * at, std::min(1000u, 44100 - at), &chunked);
    EXPECT_FALSE(chunked.empty()) << rate;  // frames came out before the end
    pieces.Finish(&chunked);

    ASSERT_EQ(once.size(), 2u * rate);
    EXPECT_EQ(chunked, once) << rate;
    float peak = 0;
    for (size_t i = rate / 10; i < once.size() - rate / 10; ++i)
      peak = std::max(peak, std::fabs(once[i]));
    EXPECT_NEAR(peak, 0.5, 0.005) << rate;
  }
}
