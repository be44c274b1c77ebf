// The instrument set read from a real file through FileStream (CreateFileA,
// ReadFile), with the WAV files it names, as Windows users write it: CR LF
// line ends, backslashes and any letter case in the paths.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/InstrumentTable.h"
#include "loading/FileStream.h"
#include "loading/InstrumentSet.h"
#include "support/InstrumentTableReset.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/WaveBytes.h"

namespace {

TEST(InstrumentSetFile, WindowsPathsAndLineEndsLoad) {
  TempFolder folder;
  ResetInstrumentTable();
  ASSERT_TRUE(std::filesystem::create_directory("Samples"));
  WriteBytes("Samples/low.wav", Wave(1, 22050, 16, Values16({1111, 0})));
  WriteBytes("Samples/high.wav", Wave(2, 44100, 16, Values16({2222, -2222})));
  WriteText("default.pvi",
            "PVID\r\ninstrument\r\n{\r\n  ID 5\r\n  name Organ\r\n"
            "  sample\r\n  {\r\n    file samples\\LOW.WAV\r\n    base 48\r\n    begin 0\r\n"
            "    end 59\r\n  }\r\n"
            "  sample\r\n  {\r\n    file .\\Samples\\high.wav\r\n    base 72\r\n    begin 60\r\n"
            "    end 127\r\n  }\r\n}\r\n");
  LogCapture log;
  LoadInstrumentSet("default.pvi");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "Loading instrument set from 'default.pvi'...",
                             "Instrument ' Organ' with 2 samples has been loaded as ID 5"}));
  const Instrument* organ = InstrumentTable[5];
  ASSERT_NE(organ, nullptr);
  ASSERT_EQ(organ->sampleCount, 2);
  EXPECT_EQ(organ->samples[0]->rate, 22050);
  EXPECT_EQ(organ->samples[0]->left[0], 1111);
  EXPECT_EQ(organ->samples[1]->right[0], -2222);
  ResetInstrumentTable();
}

TEST(InstrumentSetFile, FileStreamReadsWholeLinesAcrossItsBuffer) {
  TempFolder folder;
  // 200,000 lines of 9 bytes: about 27 refills of the 65,536-byte buffer.
  std::string text;
  for (int i = 0; i < 200000; ++i) {
    char line[16];
    snprintf(line, sizeof line, "%07d\r\n", i);
    text += line;
  }
  WriteText("big.txt", text);
  FileStream stream("big.txt");
  int count = 0;
  while (char* line = stream.ReadLine(nullptr)) {
    char expected[16];
    snprintf(expected, sizeof expected, "%07d", count);
    ASSERT_STREQ(line, expected);
    ++count;
  }
  EXPECT_EQ(count, 200000);
  EXPECT_TRUE(stream.AtEnd());

  FileStream missing("missing.txt");
  EXPECT_EQ(missing.handle, platform::kNoFile);
  EXPECT_EQ(missing.ReadLine(nullptr), nullptr);
}

}  // namespace
