#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/Sample.h"
#include "loading/WaveLoader.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/WaveBytes.h"

namespace {

using Lines = std::vector<std::string>;

std::vector<int16_t> Left(const Sample& s) { return {s.left, s.left + s.length}; }
std::vector<int16_t> Right(const Sample& s) { return {s.right, s.right + s.length}; }

class WaveLoader : public ::testing::Test {
 protected:
  // A sample that already holds data, to see that failures leave it alone.
  void Prefill(Sample& s) {
    s.Allocate(3);
    for (int i = 0; i < 3; ++i) {
      s.left[i] = static_cast<int16_t>(100 + i);
      s.right[i] = static_cast<int16_t>(200 + i);
    }
    s.rate = 11025;
    s.baseNote = 50;
  }
  void ExpectPrefilled(const Sample& s, const int16_t* left, const int16_t* right) {
    EXPECT_EQ(s.left, left);
    EXPECT_EQ(s.right, right);
    EXPECT_EQ(s.length, 3);
    EXPECT_EQ(Left(s), (std::vector<int16_t>{100, 101, 102}));
    EXPECT_EQ(Right(s), (std::vector<int16_t>{200, 201, 202}));
    EXPECT_EQ(s.rate, 11025);
    EXPECT_EQ(s.baseNote, 50);
  }

  TempFolder folder;
  LogCapture log;
};

TEST_F(WaveLoader, EightBitMonoIsCentredAndHeldOnceForBothSides) {
  WriteBytes("a.wav", Wave(1, 22050, 8, {0x80, 0x00, 0xFF, 0x7F}));
  Sample s;
  s.baseNote = 50;
  ASSERT_TRUE(LoadWave(s, "a.wav"));
  EXPECT_EQ(Left(s), (std::vector<int16_t>{0, -32768, 32512, -256}));
  EXPECT_EQ(Right(s), Left(s));
  EXPECT_EQ(s.left, s.right);
  EXPECT_EQ(s.Frames().Channels(), 1);
  EXPECT_EQ(s.rate, 22050);
  EXPECT_EQ(s.baseNote, 64);
  EXPECT_EQ(log.Lines(), Lines{});
}

TEST_F(WaveLoader, SixteenBitDropsTrailingByteAndUnpairedValue) {
  Bytes five = Values16({1000, -1000});
  five.push_back(0x7F);
  WriteBytes("mono.wav", Wave(1, 44100, 16, five));
  WriteBytes("stereo.wav", Wave(2, 48000, 16, Values16({-5, 7, 9})));
  WriteBytes("stereo8.wav", Wave(2, 8000, 8, {0x81, 0x7F, 0x00, 0xFF, 0x90}));

  Sample mono, stereo, stereo8;
  ASSERT_TRUE(LoadWave(mono, "mono.wav"));
  EXPECT_EQ(Left(mono), (std::vector<int16_t>{1000, -1000}));
  EXPECT_EQ(Right(mono), (std::vector<int16_t>{1000, -1000}));

  ASSERT_TRUE(LoadWave(stereo, "stereo.wav"));
  EXPECT_EQ(Left(stereo), (std::vector<int16_t>{-5}));
  EXPECT_EQ(Right(stereo), (std::vector<int16_t>{7}));
  EXPECT_EQ(stereo.rate, 48000);

  ASSERT_TRUE(LoadWave(stereo8, "stereo8.wav"));
  EXPECT_EQ(Left(stereo8), (std::vector<int16_t>{256, -32768}));
  EXPECT_EQ(Right(stereo8), (std::vector<int16_t>{-256, 32512}));
  EXPECT_EQ(log.Lines(), Lines{});
}

TEST_F(WaveLoader, SkipsOtherChunksHonouringPadBytes) {
  // Top-level junk and a RIFF of another form come first; inside the WAVE
  // form, odd-sized chunks (with their pad bytes) surround an odd-sized
  // format record, and a second "data" chunk must not be the one taken.
  Bytes file =
      Concat({Chunk("JUNK", {1, 2, 3}), Riff(Chunk("data", Values16({9})), "AVI "),
              Riff(Concat({Chunk("LIST", {'a', 'b', 'c'}),
                           Chunk("fmt ", FormatRecord(1, 1, 32000, 16, 17)),
                           Chunk("fact", {4, 0, 0, 0, 5}), Chunk("data", Values16({11, -12, 13})),
                           Chunk("data", Values16({99}))}))});
  WriteBytes("chunks.wav", file);
  Sample s;
  ASSERT_TRUE(LoadWave(s, "chunks.wav"));
  EXPECT_EQ(Left(s), (std::vector<int16_t>{11, -12, 13}));
  EXPECT_EQ(s.rate, 32000);

  // Format records of 18 and 40 bytes load like one of 16.
  for (size_t size : {18u, 40u}) {
    WriteBytes("ext.wav", Riff(Concat({Chunk("fmt ", FormatRecord(1, 2, 44100, 16, size)),
                                       Chunk("data", Values16({1, 2, 3, 4}))})));
    Sample e;
    ASSERT_TRUE(LoadWave(e, "ext.wav")) << size;
    EXPECT_EQ(Left(e), (std::vector<int16_t>{1, 3}));
    EXPECT_EQ(Right(e), (std::vector<int16_t>{2, 4}));
  }
  EXPECT_EQ(log.Lines(), Lines{});
}

TEST_F(WaveLoader, SuccessReplacesEarlierData) {
  WriteBytes("a.wav", Wave(1, 22050, 16, Values16({7, 8})));
  Sample s;
  Prefill(s);
  ASSERT_TRUE(LoadWave(s, "a.wav"));
  EXPECT_EQ(s.length, 2);
  EXPECT_EQ(Left(s), (std::vector<int16_t>{7, 8}));
  EXPECT_EQ(s.rate, 22050);
  EXPECT_EQ(s.baseNote, 64);
}

struct BadFile {
  const char* what;
  Bytes bytes;
  const char* line;  // after "Sample: Cannot open file 'bad.wav': "
};

TEST_F(WaveLoader, EveryRefusalLogsOneLineAndLeavesSampleUntouched) {
  const Bytes fmt = Chunk("fmt ", FormatRecord(1, 1, 44100, 16));
  const Bytes data = Chunk("data", Values16({1, 2}));
  Bytes truncated = Wave(1, 44100, 16, Values16({1, 2, 3, 4, 5, 6}));
  truncated.resize(truncated.size() - 3);
  Bytes shortFormat = Riff(Chunk("fmt ", FormatRecord(1, 1, 44100, 16), 100));

  const std::vector<BadFile> cases = {
      {"text file", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "no WAVE chunk"},
      {"other form", Riff(Concat({fmt, data}), "AVI "), "no WAVE chunk"},
      {"no fmt", Riff(data), "no WAVE chunk"},
      {"data before fmt", Riff(Concat({data, fmt})), "no 'data' chunk"},
      {"float", Riff(Concat({Chunk("fmt ", FormatRecord(3, 1, 44100, 32)), data})),
       "unsupported floating-point data (32 bits)"},
      {"A-law", Riff(Concat({Chunk("fmt ", FormatRecord(6, 1, 8000, 8)), data})), "not a PCM wave"},
      {"extensible", Riff(Concat({Chunk("fmt ", FormatRecord(0xFFFE, 1, 44100, 16, 40)), data})),
       "not a PCM wave"},
      {"fmt of 14 bytes", Riff(Concat({Chunk("fmt ", FormatRecord(1, 1, 44100, 16, 14)), data})),
       "not a PCM wave"},
      {"fmt past end", shortFormat, "error reading Format chunk; GLE = 0"},
      {"no data", Riff(fmt), "no 'data' chunk"},
      {"empty data", Riff(Concat({fmt, Chunk("data", {})})), "zero 'data' chunk length"},
      {"truncated data", truncated, "data read failed"},
      {"huge declared data", Riff(Concat({fmt, Chunk("data", Values16({1}), 0xFFFFFFF0)})),
       "data read failed"},
      {"24 bits", Wave(1, 44100, 24, {1, 2, 3}), "unsupported BitsPerSample count (24)"},
      {"zero channels", Wave(0, 44100, 16, Values16({1})), "zero channels"},
      {"four channels", Wave(4, 44100, 16, Values16({1, 2, 3, 4})),
       "unsupported channel count (4)"},
  };
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes("bad.wav", c.bytes);
    log.Clear();
    Sample s;
    Prefill(s);
    const int16_t* left = s.left;
    const int16_t* right = s.right;
    EXPECT_FALSE(LoadWave(s, "bad.wav"));
    ExpectPrefilled(s, left, right);
    EXPECT_EQ(log.Lines(), Lines{std::string("Sample: Cannot open file 'bad.wav': ") + c.line});

    Sample empty;
    EXPECT_FALSE(LoadWave(empty, "bad.wav"));
    EXPECT_EQ(empty.length, 0);
    EXPECT_EQ(empty.left, nullptr);
    EXPECT_EQ(empty.rate, 44100);
  }
}

// A depth it cannot play is refused from the format alone: the data, here
// declared far past the end of the file, is never read.
TEST_F(WaveLoader, TheBitDepthIsCheckedBeforeTheDataIsRead) {
  WriteBytes("deep.wav", Riff(Concat({Chunk("fmt ", FormatRecord(1, 2, 44100, 24)),
                                      Chunk("data", {1, 2, 3, 4, 5, 6}, 0x7FFFFFF0)})));
  Sample s;
  EXPECT_FALSE(LoadWave(s, "deep.wav"));
  EXPECT_EQ(log.Lines(),
            Lines{"Sample: Cannot open file 'deep.wav': unsupported BitsPerSample count (24)"});
}

TEST_F(WaveLoader, ALoopOfSymbolicLinksIsToldAsSuch) {
  std::error_code failed;
  std::filesystem::create_symlink("b.wav", "a.wav", failed);
  if (!failed) std::filesystem::create_symlink("a.wav", "b.wav", failed);
  if (failed) GTEST_SKIP() << "no symbolic links here: " << failed.message();
  Sample s;
  EXPECT_FALSE(LoadFile(s, "a.wav"));
  EXPECT_EQ(log.Lines(),
            Lines{"Sample: Cannot open file 'a.wav': Too many levels of symbolic links"});
}

// 297 characters: past a Linux file name's 255 bytes and past Windows's
// 260-character paths, so both systems refuse the name itself.
TEST_F(WaveLoader, ANameTooLongIsToldAsSuchNotAsMissing) {
  const std::string name = std::string(293, 'n') + ".wav";
  Sample s;
  EXPECT_FALSE(LoadFile(s, name.c_str()));
  EXPECT_EQ(log.Lines(), Lines{"Sample: Cannot open file '" + name + "': File name too long"});
}

TEST_F(WaveLoader, DataShorterThanOneFrameLoadsAsAnEmptySample) {
  WriteBytes("mono.wav", Wave(1, 44100, 16, {5}));
  WriteBytes("stereo.wav", Wave(2, 22050, 16, Values16({1})));
  for (const char* name : {"mono.wav", "stereo.wav"}) {
    Sample s;
    Prefill(s);
    ASSERT_TRUE(LoadWave(s, name)) << name;
    EXPECT_EQ(s.length, 0);
    EXPECT_NE(s.left, nullptr);
    EXPECT_NE(s.right, nullptr);
    EXPECT_EQ(s.baseNote, 64);
  }
  EXPECT_EQ(log.Lines(), Lines{});
}

// WAVE_FORMAT_EXTENSIBLE: the 16-byte record, cbSize 22, valid bits, channel
// mask, then the subformat GUID whose first two bytes are the format tag.
Bytes Extensible(uint16_t subformat, uint16_t channels, uint32_t rate, uint16_t bits) {
  Bytes record = FormatRecord(0xFFFE, channels, rate, bits);
  PutLe16(record, 22);
  PutLe16(record, bits);
  PutLe32(record, channels == 1 ? 0x4 : 0x3);
  PutLe16(record, subformat);
  const Bytes tail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  record.insert(record.end(), tail.begin(), tail.end());
  return record;
}

TEST_F(WaveLoader, ExtensiblePcmLoadsLikeItsPlainTwin) {
  const Bytes data16 = Values16({100, -200, 300, -400, 500});
  const Bytes data8 = {0x00, 0x80, 0xFF, 0x7F};
  struct Twin {
    uint16_t channels, bits;
    const Bytes& data;
  };
  for (const Twin& t :
       {Twin{1, 16, data16}, Twin{2, 16, data16}, Twin{1, 8, data8}, Twin{2, 8, data8}}) {
    SCOPED_TRACE(testing::Message() << t.channels << " channels, " << t.bits << " bits");
    WriteBytes("plain.wav", Wave(t.channels, 32000, t.bits, t.data));
    WriteBytes("ext.wav", Riff(Concat({Chunk("fmt ", Extensible(1, t.channels, 32000, t.bits)),
                                       Chunk("fact", {1, 0, 0, 0}), Chunk("data", t.data)})));
    Sample plain, ext;
    ASSERT_TRUE(LoadWave(plain, "plain.wav"));
    ASSERT_TRUE(LoadWave(ext, "ext.wav"));
    EXPECT_EQ(Left(ext), Left(plain));
    EXPECT_EQ(Right(ext), Right(plain));
    EXPECT_EQ(ext.rate, 32000);
  }
  EXPECT_EQ(log.Lines(), Lines{});

  // What its twin would refuse, it refuses with the same line; a float
  // subformat is named as such, any other as not PCM.
  const Bytes data = Chunk("data", Values16({1, 2, 3, 4}));
  const std::vector<BadFile> refused = {
      {"24 bits", Riff(Concat({Chunk("fmt ", Extensible(1, 2, 44100, 24)), data})),
       "unsupported BitsPerSample count (24)"},
      {"4 channels", Riff(Concat({Chunk("fmt ", Extensible(1, 4, 44100, 16)), data})),
       "unsupported channel count (4)"},
      {"float", Riff(Concat({Chunk("fmt ", Extensible(3, 2, 44100, 32)), data})),
       "unsupported floating-point data (32 bits)"},
      {"A-law", Riff(Concat({Chunk("fmt ", Extensible(6, 1, 8000, 8)), data})), "not a PCM wave"},
  };
  for (const BadFile& c : refused) {
    SCOPED_TRACE(c.what);
    WriteBytes("bad.wav", c.bytes);
    log.Clear();
    Sample s;
    EXPECT_FALSE(LoadWave(s, "bad.wav"));
    EXPECT_EQ(log.Lines(), Lines{std::string("Sample: Cannot open file 'bad.wav': ") + c.line});
  }
}

TEST_F(WaveLoader, OpenFailureNamesTheLastError) {
  Sample s;
  EXPECT_FALSE(LoadWave(s, "missing.wav"));
  // ERROR_FILE_NOT_FOUND and ENOENT are both 2.
  EXPECT_EQ(log.Lines(), Lines{"Sample: Cannot open file 'missing.wav': GLE = 2"});
}

TEST_F(WaveLoader, LoadFileJudgesTheFirstThreeLettersOfTheExtension) {
  const Bytes wave = Wave(1, 44100, 16, Values16({3}));
  for (const char* name : {"a.WAV", "b.Wav", "c.wave", "xwav", "d.x.wav"}) {
    WriteBytes(name, wave);
    Sample s;
    EXPECT_TRUE(LoadFile(s, name)) << name;
  }
  EXPECT_EQ(log.Lines(), Lines{});
  for (const char* name : {"e.wa", "f.aif", "sample", "g.wav.aif"}) {
    WriteBytes(name, wave);
    Sample s;
    EXPECT_FALSE(LoadFile(s, name)) << name;
  }
  EXPECT_EQ(log.Lines(), (Lines{"Sample: File e.wa not loaded, unknown format",
                                "Sample: File f.aif not loaded, unknown format",
                                "Sample: File sample not loaded, unknown format",
                                "Sample: File g.wav.aif not loaded, unknown format"}));
}

TEST_F(WaveLoader, LoadFileRefusesMissingFilesAndDirectories) {
  ASSERT_TRUE(std::filesystem::create_directory("dir.wav"));
  Sample s;
  EXPECT_FALSE(LoadFile(s, "dir.wav"));
  EXPECT_FALSE(LoadFile(s, "none.wav"));
  EXPECT_FALSE(LoadFile(s, nullptr));
  EXPECT_EQ(log.Lines(),
            (Lines{"Sample: File dir.wav not found", "Sample: File none.wav not found"}));
  // Straight to the loader, the directory fails at the open.
  log.Clear();
  EXPECT_FALSE(LoadWave(s, "dir.wav"));
  const Lines lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Sample: Cannot open file 'dir.wav': GLE = ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0], "Sample: Cannot open file 'dir.wav': GLE = 0");
}

}  // namespace
