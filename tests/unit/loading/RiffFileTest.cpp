#include <gtest/gtest.h>

#include <filesystem>

#include "engine/Sample.h"
#include "loading/RiffFile.h"
#include "loading/WaveLoader.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/WaveBytes.h"

namespace {

// A file of zeros is a chain of empty chunks 8 bytes apart: 64 MiB of them
// are read through the buffer, a few dozen platform reads, and refused.
TEST(RiffFile, ZerosAreWalkedThroughTheBufferAndRefused) {
  TempFolder folder;
  LogCapture log;
  constexpr uint64_t kSize = 64ull << 20;
  WriteBytes("zeros.wav", {});
  std::filesystem::resize_file("zeros.wav", kSize);  // sparse where the system can
  // Inside a WAVE form that declares far more than the file holds, the walk
  // for "fmt " ends with the file too.
  Bytes header = Riff({});
  header[4] = header[5] = header[6] = header[7] = 0xFF;
  WriteBytes("big-form.wav", header);
  std::filesystem::resize_file("big-form.wav", kSize);
  const uint64_t bound = kSize / RiffFile::kBufferSize + 2;

  RiffFile zeros;
  ASSERT_TRUE(zeros.Open("zeros.wav"));
  RiffChunk riff;
  EXPECT_FALSE(zeros.FindRiff("WAVE", &riff));
  EXPECT_LE(zeros.PlatformReads(), bound);

  RiffFile form;
  ASSERT_TRUE(form.Open("big-form.wav"));
  ASSERT_TRUE(form.FindRiff("WAVE", &riff));
  EXPECT_EQ(riff.size, 0xFFFFFFFFu);
  RiffChunk format;
  EXPECT_FALSE(form.FindChunk("fmt ", riff, &format));
  EXPECT_LE(form.PlatformReads(), bound);

  Sample s;
  EXPECT_FALSE(LoadWave(s, "zeros.wav"));
  EXPECT_FALSE(LoadWave(s, "big-form.wav"));
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"Sample: Cannot open file 'zeros.wav': no WAVE chunk",
                                      "Sample: Cannot open file 'big-form.wav': no WAVE chunk"}));
}

}  // namespace
