// The dump reader, the WAV writer and the message listing.
#include <gtest/gtest.h>

#include <cstring>

#include "ScratchFolder.h"
#include "tools/DumpReader.h"
#include "tools/InputFile.h"
#include "tools/MessageText.h"
#include "tools/WavWriter.h"

using Bytes = std::vector<uint8_t>;

TEST(DumpReader, RecordsAreLittleEndianTimeStampThenMessage) {
  // Note on 60/100 on channel 0 at 1500 ms, then a pitch bend on channel 15
  // at 0xFFFFFFFF ms with a stray high byte, kept as it was recorded.
  Bytes bytes = {0xDC, 0x05, 0x00, 0x00, 0x90, 0x3C, 0x64, 0x00,
                 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x01, 0x40, 0x7E};
  DumpReader dump;
  dump.Parse(bytes.data(), bytes.size());
  ASSERT_EQ(dump.Events().size(), 2u);
  EXPECT_EQ(dump.IgnoredBytes(), 0u);
  EXPECT_EQ(dump.Events()[0].timeStamp, 1500u);
  EXPECT_EQ(dump.Events()[0].timeUs, 1500000u);
  EXPECT_EQ(dump.Events()[0].message, 0x00643C90u);
  EXPECT_EQ(dump.Events()[1].timeStamp, 0xFFFFFFFFu);
  EXPECT_EQ(dump.Events()[1].timeUs, 4294967295000u);
  EXPECT_EQ(dump.Events()[1].message, 0x7E4001EFu);
}

TEST(DumpReader, PartialRecordAtTheEndIsCountedAndIgnored) {
  Bytes bytes(8 * 3 + 5, 0x11);
  DumpReader dump;
  dump.Parse(bytes.data(), bytes.size());
  EXPECT_EQ(dump.Events().size(), 3u);
  EXPECT_EQ(dump.IgnoredBytes(), 5u);
  dump.Parse(bytes.data(), 7);
  EXPECT_TRUE(dump.Events().empty());
  EXPECT_EQ(dump.IgnoredBytes(), 7u);
}

TEST(InputFile, ReadsWholeFilesAndTellsSmfFromDumps) {
  ScratchFolder folder;
  Bytes big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  ScratchFolder::Write(folder.File("big.pvd"), big);
  Bytes read;
  std::string error;
  ASSERT_TRUE(ReadWholeFile(folder.File("big.pvd"), &read, &error)) << error;
  EXPECT_EQ(read, big);
  EXPECT_FALSE(LooksLikeSmf(read));
  EXPECT_TRUE(LooksLikeSmf(Bytes{'M', 'T', 'h', 'd'}));

  EXPECT_FALSE(ReadWholeFile(folder.File("missing.pvd"), &read, &error));
  EXPECT_EQ(error, "cannot open: No such file or directory");

  EXPECT_TRUE(HasSmfExtension("song.MID"));
  EXPECT_TRUE(HasSmfExtension("a/b.midi"));
  EXPECT_TRUE(HasSmfExtension("x.smf"));
  EXPECT_FALSE(HasSmfExtension("dump0001.pvd"));
  EXPECT_FALSE(HasSmfExtension("mid"));
}

TEST(WavWriter, WritesAPcmStereoHeaderAndPatchesTheSizes) {
  ScratchFolder folder;
  const std::string path = folder.File("out.wav");
  WavWriter wav;
  ASSERT_TRUE(wav.Open(path)) << wav.Error();
  const int16_t first[] = {1, -1, 32767, -32768};
  const int16_t second[] = {0x1234, -0x1234};
  ASSERT_TRUE(wav.Write(first, 2));
  ASSERT_TRUE(wav.Write(second, 1));
  EXPECT_EQ(wav.Frames(), 3u);
  ASSERT_TRUE(wav.Finish()) << wav.Error();

  const Bytes expected = {'R', 'I', 'F', 'F', 48, 0, 0, 0, 'W', 'A', 'V', 'E',
                          'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                          0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0, 4, 0, 16, 0,
                          'd', 'a', 't', 'a', 12, 0, 0, 0,
                          0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80,
                          0x34, 0x12, 0xCC, 0xED};
  EXPECT_EQ(ScratchFolder::Read(path), expected);
}

TEST(WavWriter, EmptyRenderIsAValidHeaderOnly) {
  ScratchFolder folder;
  WavWriter wav;
  ASSERT_TRUE(wav.Open(folder.File("empty.wav")));
  ASSERT_TRUE(wav.Finish());
  Bytes bytes = ScratchFolder::Read(folder.File("empty.wav"));
  ASSERT_EQ(bytes.size(), 44u);
  EXPECT_EQ(bytes[4], 36);
  EXPECT_EQ(std::memcmp(&bytes[36], "data\0\0\0\0", 8), 0);
}

TEST(WavWriter, UnwritablePlacesFailWithTheReason) {
  ScratchFolder folder;
  WavWriter wav;
  EXPECT_FALSE(wav.Open(folder.File("no/such/folder/out.wav")));
  EXPECT_EQ(wav.Error(), "cannot create the file: No such file or directory");
  WavWriter intoFolder;
  EXPECT_FALSE(intoFolder.Open(folder.File("")));
  EXPECT_EQ(intoFolder.Error().rfind("cannot create the file: ", 0), 0u) << intoFolder.Error();
}

TEST(MessageText, ListsTimeChannelKindAndData) {
  EXPECT_EQ(DescribeEvent({1500000, 0x00643C90, 1500}),
            "     1.500  ch  0  Note on           60 100");
  EXPECT_EQ(DescribeEvent({1999, 0x0040328F, 0}), "     0.001  ch 15  Note off          50  64");
  EXPECT_EQ(DescribeEvent({61234567, 0x0005C3, 0}), "    61.234  ch  3  Program change     5");
  EXPECT_EQ(DescribeEvent({0, 0x7F07B1, 0}), "     0.000  ch  1  Control change     7 127");
  EXPECT_EQ(DescribeEvent({0, 0x4000EE, 0}), "     0.000  ch 14  Pitch bend         0  64");
  EXPECT_EQ(DescribeEvent({0, 0x0040D2, 0}), "     0.000  ch  2  Channel pressure  64");
  EXPECT_EQ(DescribeEvent({0, 0x10203A4, 0}), "     0.000  ch  4  Aftertouch         3   2");
  EXPECT_EQ(DescribeEvent({0, 0x0000F8, 0}), "     0.000  ---    System           0xF8   0   0");
  EXPECT_EQ(DescribeEvent({0, 0x00643C, 0}), "     0.000  ---    Data             0x3C 100   0");
}
