// The dump reader, the WAV writer and the message listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "ScratchFolder.h"
#include "SmfBytes.h"
#include "tools/DumpReader.h"
#include "tools/InputFile.h"
#include "tools/MessageText.h"
#include "tools/RenderLog.h"
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

namespace {
Bytes LittleEndianRecord(uint32_t timeStamp, uint32_t message) {
  Bytes out;
  for (uint32_t value : {timeStamp, message})
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return out;
}
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
std::string ParseFailure(const Bytes& bytes, const std::string& name) {
  InputEvents input;
  std::string error;
  EXPECT_FALSE(ParseInput(bytes.data(), bytes.size(), name, &input, &error));
  return error;
}
}  // namespace

TEST(InputFile, TheKindComesFromTheContent) {
  TrackBytes track;
  track.Event(0, {0x90, 60, 100}).Event(96, {0x80, 60, 0}).End(96);
  const Bytes smf = Smf(0, 96, {track});
  // The same MIDI file in a RIFF RMID wrapper, after an odd-sized chunk of its own.
  auto le32 = [](size_t value) {
    Bytes record = LittleEndianRecord(static_cast<uint32_t>(value), 0);
    record.resize(4);
    return record;
  };
  const Bytes body = Join({{'R', 'M', 'I', 'D', 'I', 'N', 'F', 'O', 1, 0, 0, 0, 7, 0},
                           {'d', 'a', 't', 'a'},
                           le32(smf.size()),
                           smf});
  const Bytes riff = Join({{'R', 'I', 'F', 'F'}, le32(body.size()), body});

  InputEvents plain, wrapped;
  std::string error;
  ASSERT_TRUE(ParseInput(smf.data(), smf.size(), "song.txt", &plain, &error)) << error;
  ASSERT_TRUE(ParseInput(riff.data(), riff.size(), "song.pvd", &wrapped, &error)) << error;
  EXPECT_EQ(plain.kind, InputKind::kSmf);
  EXPECT_EQ(wrapped.kind, InputKind::kRmid);
  ASSERT_EQ(wrapped.events.size(), 2u);
  EXPECT_EQ(wrapped.events[1].message, plain.events[1].message);
  EXPECT_EQ(wrapped.events[1].timeUs, 500000u);
  EXPECT_EQ(wrapped.endTimeUs, 1000000u);

  // A dump, even one named like a MIDI file, cut short in its last record;
  // its clock may step back a little, never more.
  const Bytes dump = Join({LittleEndianRecord(1500, 0x00643C90),
                           LittleEndianRecord(1450, 0x00003C80),
                           LittleEndianRecord(1800, 0x000000F8),
                           {1, 2, 3}});
  InputEvents recorded;
  ASSERT_TRUE(ParseInput(dump.data(), dump.size(), "take.mid", &recorded, &error)) << error;
  EXPECT_EQ(recorded.kind, InputKind::kDump);
  EXPECT_EQ(recorded.events.size(), 3u);
  EXPECT_EQ(recorded.ignoredBytes, 3u);
  EXPECT_EQ(DetectInputKind(nullptr, 0), InputKind::kDump);  // a run without messages

  // Not a dump: text, a word without a status byte or with bits 24 to 31,
  // a clock that runs back a second.
  const std::string text = "# Pelvane\n\nPelvane is a small real-time software synthesizer.\n";
  EXPECT_EQ(ParseFailure(Bytes(text.begin(), text.end()), "README.md"),
            "neither a Standard MIDI File nor a dump file");
  EXPECT_EQ(ParseFailure(LittleEndianRecord(0, 0x00643C10), "take.pvd"),
            "neither a Standard MIDI File nor a dump file");
  EXPECT_EQ(ParseFailure(LittleEndianRecord(0, 0x01643C90), "take.mid"),
            "not a Standard MIDI File (no MThd header)");
  EXPECT_EQ(
      ParseFailure(Join({LittleEndianRecord(2000, 0x90), LittleEndianRecord(1000, 0x90)}), "x"),
      "neither a Standard MIDI File nor a dump file");
  EXPECT_EQ(ParseFailure(Bytes(riff.begin(), riff.begin() + 16), "x.rmi"),
            "a RIFF RMID file without a 'data' chunk");
}

TEST(InputFile, RefusesWhatIsNotARegularFileOfSensibleSize) {
  ScratchFolder folder;
  ScratchFolder::Write(folder.File("huge.pvd"), {});
  std::filesystem::resize_file(folder.File("huge.pvd"), kMaxInputBytes + 1);
  Bytes read;
  std::string error;
  EXPECT_FALSE(ReadWholeFile(folder.File("huge.pvd"), &read, &error));
  EXPECT_EQ(error, "larger than 256 MiB, too long for an input");
  EXPECT_TRUE(read.empty());
  std::filesystem::create_directory(folder.File("folder.pvd"));
  EXPECT_FALSE(ReadWholeFile(folder.File("folder.pvd"), &read, &error));
  EXPECT_EQ(error.rfind("cannot open: ", 0), 0u) << error;
}

TEST(RenderLog, QuietShowsOnlyWhyStartUpRefusedSomethingAndWritesInBlocks) {
  ScratchFolder folder;
  for (bool verbose : {false, true}) {
    SCOPED_TRACE(verbose ? "verbose" : "quiet");
    const std::string path = folder.File(verbose ? "verbose.txt" : "quiet.txt");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    {
      RenderLog log(out, verbose);
      log.Take("0x00000001: Sample: Cannot open file 'default.wav': GLE = 2");
      log.Take("0x00000001: Loading instrument set from 'default.pvi'...");
      log.Take("0x00000001: Sample: File organ.wav not found");
      log.Take("0x00000001: Instrument ' Organ' with 2 samples has been loaded as ID 0");
      log.Take("0x00000001: Instrument ' Bass' has no samples, it has been discarded");
      log.EndStartUp();
      log.Take("0x00000002: Wave out opened");
      log.Take("0x00000001: Midi-In: Note ON (60, vel. 100)");
      // Nothing is written line by line: the buffer holds it all so far.
      std::fflush(out);
      EXPECT_TRUE(ScratchFolder::Read(path).empty());
    }
    std::fclose(out);
    const Bytes written = ScratchFolder::Read(path);
    const std::string shown(written.begin(), written.end());
    if (!verbose) {
      EXPECT_EQ(shown,
                "0x00000001: Sample: Cannot open file 'default.wav': GLE = 2\n"
                "0x00000001: Sample: File organ.wav not found\n"
                "0x00000001: Instrument ' Bass' has no samples, it has been discarded\n");
    } else {
      EXPECT_NE(shown.find("Loading instrument set from"), std::string::npos);
      EXPECT_NE(shown.find("Midi-In: Note ON (60, vel. 100)\n"), std::string::npos);
      EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 7);
    }
  }
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

  const Bytes expected = {'R',  'I',  'F',  'F',  48,   0,    0,    0,   'W',  'A',  'V',  'E',
                          'f',  'm',  't',  ' ',  16,   0,    0,    0,   1,    0,    2,    0,
                          0x44, 0xAC, 0,    0,    0x10, 0xB1, 0x02, 0,   4,    0,    16,   0,
                          'd',  'a',  't',  'a',  12,   0,    0,    0,   0x01, 0x00, 0xFF, 0xFF,
                          0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12, 0xCC, 0xED};
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
