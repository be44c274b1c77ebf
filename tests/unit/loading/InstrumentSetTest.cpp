#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/InstrumentTable.h"
#include "loading/InstrumentSet.h"
#include "support/InstrumentTableReset.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/WaveBytes.h"

namespace {

using Lines = std::vector<std::string>;

const char* kLoading = "Loading instrument set from 'default.pvi'...";

class InstrumentSet : public ::testing::Test {
 protected:
  InstrumentSet() {
    ResetInstrumentTable();
    // Each WAV file starts with its own marker value, so a mapped sample can
    // be told by its first frame.
    WriteBytes("a.wav", Wave(1, 44100, 16, Values16({1111, 0})));
    WriteBytes("b.wav", Wave(1, 22050, 16, Values16({2222, 0})));
    WriteBytes("c.wav", Wave(2, 44100, 16, Values16({3333, -3333})));
  }
  ~InstrumentSet() override { ResetInstrumentTable(); }

  // Writes the text as default.pvi and loads it; returns the log lines after
  // the "Loading ..." line, which must come first.
  Lines Load(const std::string& text) {
    WriteText("default.pvi", text);
    log.Clear();
    LoadInstrumentSet("default.pvi");
    Lines lines = log.Lines();
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return lines;
    EXPECT_EQ(lines[0], kLoading);
    return Lines(lines.begin() + 1, lines.end());
  }

  // The marker of the sample that plays note in the instrument of slot, 0 when
  // no sample does.
  static int Marker(int slot, int note) {
    const Sample* s = InstrumentTable[slot]->SampleForNote(note);
    return s ? s->left[0] : 0;
  }
  static int LoadedCount() {
    int count = 0;
    for (int slot = 0; slot < 128; ++slot) count += InstrumentTable[slot] != nullptr;
    return count;
  }

  TempFolder folder;
  LogCapture log;
};

TEST_F(InstrumentSet, LoadsAnInstrumentWithSamplesOverNoteRanges) {
  const Lines lines = Load(
      "PVID\r\n\r\ninstrument\r\n{\r\n    ID 0\r\n    name Piano\r\n"
      "    sample\r\n    {\r\n        file a.wav\r\n        base 48\r\n        begin 0\r\n"
      "        end 59\r\n    }\r\n    sample\r\n    {\r\n        file b.wav\r\n        base 72\r\n"
      "        begin 60\r\n        end 127\r\n    }\r\n}\r\n");
  EXPECT_EQ(lines, Lines{"Instrument ' Piano' with 2 samples has been loaded as ID 0"});
  const Instrument* piano = InstrumentTable[0];
  ASSERT_NE(piano, nullptr);
  EXPECT_STREQ(piano->name.get(), " Piano");
  ASSERT_EQ(piano->sampleCount, 2);
  EXPECT_EQ(piano->samples[0]->baseNote, 48);
  EXPECT_EQ(piano->samples[1]->baseNote, 72);
  EXPECT_EQ(piano->samples[1]->rate, 22050);
  for (int note = 0; note < 128; ++note) EXPECT_EQ(piano->noteMap[note], note < 60 ? 0 : 1);
  EXPECT_EQ(LoadedCount(), 1);
  EXPECT_EQ(InstrumentTable[DEFAULT_INSTRUMENT_SLOT], nullptr);
}

TEST_F(InstrumentSet, MissingFileOrDirectoryIsOneLine) {
  LoadInstrumentSet("default.pvi");
  std::filesystem::create_directory("folder.pvi");
  LoadInstrumentSet("folder.pvi");
  EXPECT_EQ(log.Lines(), (Lines{kLoading, "Instrument set not loaded, file not found.",
                                "Loading instrument set from 'folder.pvi'...",
                                "Instrument set not loaded, file not found."}));
  EXPECT_EQ(LoadedCount(), 0);
}

TEST_F(InstrumentSet, FirstLineMustBeginWithTheMagicAsItStands) {
  const std::string body = "instrument\nsample\nfile a.wav\n}\n}\n";
  const Lines refused = {"Instrument set not loaded, the file does not begin with \"PVID\"."};
  for (const char* first : {"pvid\n", " PVID\n", "\xEF\xBB\xBF PVID\n", "PVI\n", "\n", ""}) {
    SCOPED_TRACE(testing::PrintToString(std::string(first)));
    EXPECT_EQ(Load(first + body), refused);
    EXPECT_EQ(LoadedCount(), 0);
  }
  EXPECT_EQ(Load(""), refused);
  EXPECT_EQ(Load("PVID version 2 \t\n" + body),
            Lines{"Instrument '' with 1 samples has been loaded as ID 0"});
  // A UTF-8 byte-order mark, as Windows editors write one, is no part of the text.
  ResetInstrumentTable();
  EXPECT_EQ(Load("\xEF\xBB\xBFPVID\r\n" + body),
            Lines{"Instrument '' with 1 samples has been loaded as ID 0"});
}

TEST_F(InstrumentSet, AFileNamedAgainIsLoadedOnceAndShared) {
  std::string text = "PVID\n";
  for (int id = 0; id < 3; ++id) {
    text += "instrument\nID " + std::to_string(id) + "\n";
    for (int k = 0; k < 100; ++k) text += "sample\nfile a.wav\nbase " + std::to_string(k) + "\n}\n";
    text += "sample\nfile b.wav\n}\n}\n";
  }
  Load(text);
  ASSERT_EQ(LoadedCount(), 3);
  const Sample* first = InstrumentTable[0]->samples[0].get();
  for (int id = 0; id < 3; ++id) {
    const Instrument* instrument = InstrumentTable[id];
    ASSERT_EQ(instrument->sampleCount, 101);
    for (int k = 0; k < 100; ++k) {
      const Sample* s = instrument->samples[k].get();
      // One block of frames for the 300 samples; each keeps its own base note.
      EXPECT_EQ(s->left, first->left);
      EXPECT_EQ(s->right, first->right);
      EXPECT_EQ(s->length, 2);
      EXPECT_EQ(s->rate, 44100);
      EXPECT_EQ(s->baseNote, k);
    }
    EXPECT_EQ(instrument->samples[100]->rate, 22050);
    EXPECT_EQ(instrument->samples[100]->left, InstrumentTable[0]->samples[100]->left);
  }
  EXPECT_NE(InstrumentTable[0]->samples[100]->left, first->left);
  EXPECT_EQ(first->Frames().Holders(), 300);
  // The block goes with its last holder.
  ResetInstrumentTable();
}

TEST_F(InstrumentSet, OnlyALineOfItsOwnOpensABlock) {
  std::string text = "PVID\n";
  const char* openers[] = {"Instrument",   "INSTRUMENT",  "  instrument \t",
                           "instrument {", "instruments", "} instrument"};
  for (int i = 0; i < 6; ++i)
    text += std::string(openers[i]) + "\nID " + std::to_string(i) + "\nsample\nfile a.wav\n}\n}\n";
  const Lines lines = Load(text);
  EXPECT_EQ(lines, (Lines{"Instrument '' with 1 samples has been loaded as ID 0",
                          "Instrument '' with 1 samples has been loaded as ID 1",
                          "Instrument '' with 1 samples has been loaded as ID 2"}));
  EXPECT_EQ(LoadedCount(), 3);
}

TEST_F(InstrumentSet, IdsAreCheckedInOrder) {
  const Lines lines = Load(
      "PVID\n"
      "instrument\nname NoId\nsample\nfile a.wav\n}\n}\n"
      "instrument\nID -1\nname Negative\nsample\nfile a.wav\n}\n}\n"
      "instrument\nID 128\nname Default\nsample\nfile a.wav\n}\n}\n"
      "instrument\nID 99999999999\nname Huge\nsample\nfile a.wav\n}\n}\n"
      "instrument\nID -99999999999\nname Tiny\nsample\nfile a.wav\n}\n}\n"
      "instrument\nidentifier 5x\nname First\nsample\nfile a.wav\n}\n}\n"
      "instrument\nID 5\nname Second\nsample\nfile b.wav\n}\n}\n"
      "instrument\nID 7\nname Empty\nsample\n}\n}\n"
      "instrument\nID=9\nname Equals\nsample\nfile b.wav\n}\n}\n");
  EXPECT_EQ(lines,
            (Lines{"Instrument ' NoId' with 1 samples has been loaded as ID 0",
                   "Instrument ' Negative' has no ID, it has been discarded",
                   "Instrument ' Default' has an invalid ID 128, it has been discarded",
                   "Instrument ' Huge' has an invalid ID 2147483647, it has been discarded",
                   "Instrument ' Tiny' has no ID, it has been discarded",
                   "Instrument ' First' with 1 samples has been loaded as ID 5",
                   "Instrument ' Second' has the same ID as instrument ' First', the former has "
                   "been discarded",
                   "Instrument ' Empty' has no samples, it has been discarded",
                   "Instrument ' Equals' has the same ID as instrument ' NoId', the former has "
                   "been discarded"}));
  EXPECT_EQ(Marker(5, 60), 1111);
  EXPECT_EQ(LoadedCount(), 2);
  EXPECT_EQ(InstrumentTable[DEFAULT_INSTRUMENT_SLOT], nullptr);
}

TEST_F(InstrumentSet, NamesKeepTheirLeadingBlankAndEveryByteAbove127) {
  const Lines lines = Load(
      "PVID\n"
      "instrument\nID 1\nname Grand Piano\nsample\nfile a.wav\n}\n}\n"
      "instrument\nID 2\nname\nsample\nfile a.wav\n}\n}\n"
      "instrument\nID 3\nname Caf\xC3\xA9  \nsample\nfile a.wav\n}\n}\n"
      "instrument\nID 4\nname Old\nnames New\nsample\nfile a.wav\n}\n}\n");
  EXPECT_EQ(lines, (Lines{"Instrument ' Grand Piano' with 1 samples has been loaded as ID 1",
                          "Instrument '' with 1 samples has been loaded as ID 2",
                          "Instrument ' Caf\xC3\xA9' with 1 samples has been loaded as ID 3",
                          "Instrument ' New' with 1 samples has been loaded as ID 4"}));
  EXPECT_EQ(std::strlen(InstrumentTable[1]->name.get()), 12u);
  EXPECT_STREQ(InstrumentTable[2]->name.get(), "");
  EXPECT_STREQ(InstrumentTable[3]->name.get(), " Caf\xC3\xA9");
}

TEST_F(InstrumentSet, BaseCountsOnlyAfterTheFile) {
  Load(
      "PVID\ninstrument\nID 0\n"
      "sample\nbase 50\nfile a.wav\nend 9\n}\n"
      "sample\nfile a.wav\nbase 50\nbegin 10\nend 19\n}\n"
      "sample\nfile a.wav\nbasement 3\nbegin 20\nend 29\n}\n"
      "sample\nfile a.wav\nbe 3\nfine 12\nend 39\n}\n}\n");
  const Instrument* in = InstrumentTable[0];
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(in->sampleCount, 4);
  EXPECT_EQ(in->samples[0]->baseNote, 64);
  EXPECT_EQ(in->samples[1]->baseNote, 50);
  EXPECT_EQ(in->samples[2]->baseNote, 3);
  EXPECT_EQ(in->samples[3]->baseNote, 64);
  // "be 3" is no key: the last block still begins at 0 and takes 0 to 39.
  for (int note = 0; note < 128; ++note) EXPECT_EQ(in->noteMap[note], note < 40 ? 3 : -1) << note;
}

TEST_F(InstrumentSet, RangesAreSwappedClippedAndOverwritten) {
  Load(
      "PVID\n"
      "instrument\nID 1\nsample\nfile a.wav\nbegin 80\nend 70\n}\n}\n"
      "instrument\nID 2\nsample\nfile a.wav\n}\nsample\nfile b.wav\nbegin 60\n}\n"
      "sample\nfile c.wav\nbegin 64\nend 66\n}\n}\n"
      "instrument\nID 3\nsample\nfile a.wav\nbegin -5\nend 3\n}\nsample\nfile b.wav\n"
      "begin 120\nend 300\n}\nsample\nfile c.wav\nbegin 200\nend 300\n}\n}\n");
  for (int note = 0; note < 128; ++note) {
    SCOPED_TRACE(note);
    EXPECT_EQ(Marker(1, note), note >= 70 && note <= 80 ? 1111 : 0);
    EXPECT_EQ(Marker(2, note), note < 60 ? 1111 : (note >= 64 && note <= 66) ? 3333 : 2222);
    EXPECT_EQ(Marker(3, note), note <= 3 ? 1111 : note >= 120 ? 2222 : 0);
  }
  // A range wholly outside the notes maps nothing, but the sample is kept.
  EXPECT_EQ(InstrumentTable[3]->sampleCount, 3);
}

TEST_F(InstrumentSet, FailedSampleFilesDropTheirBlock) {
  const Lines lines = Load(
      "PVID\ninstrument\nname Lost\nsample\nfile none.wav\n}\n}\n"
      "instrument\nID 1\nname Last\nsample\nfile a.wav\nfile none.wav\n}\n"
      "sample\nfile b.aif\n}\nsample\nfile   c.wav  \n}\n}\n");
  EXPECT_EQ(lines, (Lines{"Sample: File none.wav not found",
                          "Instrument ' Lost' has no samples, it has been discarded",
                          "Sample: File none.wav not found", "Sample: File b.aif not found",
                          "Instrument ' Last' with 1 samples has been loaded as ID 1"}));
  EXPECT_EQ(Marker(1, 0), 3333);
}

TEST_F(InstrumentSet, MissingBraceLetsTheNextInstrumentsKeysApply) {
  const Lines lines = Load(
      "PVID\ninstrument\nID 1\nname One\nsample\nfile a.wav\n"
      "}\n"  // taken by the sample block
      "instrument\nID 2\nname Two\nsample\nfile b.wav\nbegin 60\n}\n}\n"
      "}\n{\nstray lines\n");
  EXPECT_EQ(lines, Lines{"Instrument ' Two' with 2 samples has been loaded as ID 2"});
  EXPECT_EQ(InstrumentTable[1], nullptr);
  EXPECT_EQ(Marker(2, 59), 1111);
  EXPECT_EQ(Marker(2, 60), 2222);
}

TEST_F(InstrumentSet, EndOfDataEndsOpenBlocks) {
  EXPECT_EQ(Load("PVID\ninstrument\nID 4\nname Cut\nsample\nfile a.wav"),
            Lines{"Instrument ' Cut' with 1 samples has been loaded as ID 4"});
  EXPECT_EQ(Marker(4, 127), 1111);
  ResetInstrumentTable();
  EXPECT_EQ(Load("PVID\ninstrument\nID 4\nname Cut\nsample\nfile a.wav\n\n"),
            Lines{"Instrument ' Cut' with 1 samples has been loaded as ID 4"});
}

TEST(InstrumentSetText, TrimBlanksCutsOnlyBytesUpTo32) {
  char mixed[] = " \t\x01 x y \r\n\x1F";
  EXPECT_STREQ(TrimBlanks(mixed), "x y");
  char high[] = "\xA0\xFFname\xC3\xA9";
  EXPECT_STREQ(TrimBlanks(high), "\xA0\xFFname\xC3\xA9");
  char blank[] = "  \t ";
  EXPECT_STREQ(TrimBlanks(blank), "");
  EXPECT_EQ(TrimBlanks(nullptr), nullptr);
}

TEST(InstrumentSetText, SkipToWhitespaceStopsAtTheSixWhitespaceBytes) {
  for (char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
    char text[] = "key?value";
    text[3] = c;
    EXPECT_EQ(SkipToWhitespace(text), text + 3);
  }
  char none[] = "key\xA0value\x01";
  EXPECT_EQ(SkipToWhitespace(none), none + std::strlen(none));
  EXPECT_EQ(SkipToWhitespace(nullptr), nullptr);
}

TEST(InstrumentSetText, ParseNumberReadsLikeAtolButSaturates) {
  EXPECT_EQ(ParseNumber(" \t 42abc"), 42);
  EXPECT_EQ(ParseNumber("+7"), 7);
  EXPECT_EQ(ParseNumber("-12 13"), -12);
  EXPECT_EQ(ParseNumber("x5"), 0);
  EXPECT_EQ(ParseNumber("- 5"), 0);
  EXPECT_EQ(ParseNumber(""), 0);
  EXPECT_EQ(ParseNumber("2147483647"), 2147483647);
  EXPECT_EQ(ParseNumber("2147483648"), 2147483647);
  EXPECT_EQ(ParseNumber("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseNumber("-2147483649"), -2147483647 - 1);
  EXPECT_EQ(ParseNumber("99999999999999999999999999"), 2147483647);
}

}  // namespace

// A sample block's loop and release lines, read wherever they stand in it.
class SampleOptions : public InstrumentSet {
 protected:
  SampleOptions() {
    // Ten frames; with a loop of frames 2 to 6 in its smpl chunk after the
    // data, and one of 3 to 9 in a chunk before it.
    const Bytes frames = Values16({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const Bytes format = Chunk("fmt ", FormatRecord(1, 1, 44100, 16));
    WriteBytes("ten.wav", Wave(1, 44100, 16, frames));
    WriteBytes("after.wav", Riff(Concat({format, Chunk("data", frames),
                                         Chunk("smpl", SamplerData({{2, 6}, {0, 1}}))})));
    WriteBytes("before.wav",
               Riff(Concat({format, Chunk("smpl", SamplerData({{3, 9}})), Chunk("data", frames)})));
    WriteBytes("none.wav",
               Riff(Concat({format, Chunk("data", frames), Chunk("smpl", SamplerData({}))})));
    WriteBytes(
        "far.wav",
        Riff(Concat({format, Chunk("data", frames), Chunk("smpl", SamplerData({{4, 10}}))})));
  }
  // Loads one instrument whose only sample block holds these lines; returns
  // the log lines between "Loading" and "loaded".
  Lines LoadSample(const std::string& lines) {
    ResetInstrumentTable();
    Lines all = Load("PVID\ninstrument\nname S\nsample\n" + lines + "}\n}\n");
    EXPECT_FALSE(all.empty());
    if (!all.empty()) {
      EXPECT_EQ(all.back(), "Instrument ' S' with 1 samples has been loaded as ID 0");
      all.pop_back();
    }
    return all;
  }
  static const Sample& Loaded() { return *InstrumentTable[0]->samples[0]; }
  // The sample's loop as (mode, start, end) and its release frames.
  static std::vector<int32_t> Options() {
    const Sample& s = Loaded();
    return {s.loopMode, s.loopStart, s.loopEnd, s.releaseFrames};
  }
};

TEST_F(SampleOptions, EachFormTakesEffectWhereverItStandsInTheBlock) {
  const struct {
    const char* lines;
    std::vector<int32_t> options;
  } cases[] = {
      {"file ten.wav\n", {SAMPLE_LOOP_NONE, 0, 0, 2048}},
      {"loop 2 5\nrelease 500\nfile ten.wav\n", {SAMPLE_LOOP_CONTINUOUS, 2, 5, 22050}},
      {"file ten.wav\nrelease 500\nloop 2 5\n", {SAMPLE_LOOP_CONTINUOUS, 2, 5, 22050}},
      {"release 500\nfile ten.wav\nloop 2 5\n", {SAMPLE_LOOP_CONTINUOUS, 2, 5, 22050}},
      {"loop 0 9 sustain\nfile ten.wav\n", {SAMPLE_LOOP_SUSTAIN, 0, 9, 2048}},
      {"file ten.wav\nLOOP 4 4 Continuous\nRelease 0.5\n", {SAMPLE_LOOP_CONTINUOUS, 4, 4, 22}},
      {"file ten.wav\nloops 1 2\nreleased 500.25 ms\n", {SAMPLE_LOOP_CONTINUOUS, 1, 2, 22061}},
      // The last of two lines counts.
      {"loop 1 2\nrelease 9\nfile ten.wav\nloop 3 4 sustain\nrelease 1\n",
       {SAMPLE_LOOP_SUSTAIN, 3, 4, 44}},
      // Alone: the first loop of the file's smpl chunk, after the data or before.
      {"loop\nfile after.wav\n", {SAMPLE_LOOP_CONTINUOUS, 2, 6, 2048}},
      {"file before.wav\nloop sustain\n", {SAMPLE_LOOP_SUSTAIN, 3, 9, 2048}},
      // Frames of the line's own, not the file's.
      {"file after.wav\nloop 0 1\n", {SAMPLE_LOOP_CONTINUOUS, 0, 1, 2048}},
      // The smallest release: 0.363 ms is 16 frames.
      {"file ten.wav\nrelease 0.363\n", {SAMPLE_LOOP_NONE, 0, 0, 16}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    EXPECT_EQ(LoadSample(c.lines), Lines{});
    EXPECT_EQ(Options(), c.options);
  }
}

TEST_F(SampleOptions, EachRefusalIsOneLineAndTheSamplePlaysAsWithoutIt) {
  const struct {
    const char* lines;
    const char* line;
  } cases[] = {
      {"loop -1 5\nfile ten.wav\n",
       "Sample: 'ten.wav': loop start -1 is before the first frame, it plays without a loop"},
      {"file ten.wav\nloop 5 4\n",
       "Sample: 'ten.wav': loop end 4 is before its start 5, it plays without a loop"},
      {"file ten.wav\nloop 2 10 sustain\n",
       "Sample: 'ten.wav': loop end 10 is past the last frame 9, it plays without a loop"},
      {"file ten.wav\nloop 5\n",
       "Sample: 'ten.wav': loop '5' is not START END [MODE], it plays without a loop"},
      {"file ten.wav\nloop 5 x9\n",
       "Sample: 'ten.wav': loop '5 x9' is not START END [MODE], it plays without a loop"},
      {"file ten.wav\nloop\n",
       "Sample: 'ten.wav': the file has no loop (smpl chunk), it plays without a loop"},
      {"file none.wav\nloop\n",
       "Sample: 'none.wav': the file has no loop (smpl chunk), it plays without a loop"},
      {"loop\nfile far.wav\n",
       "Sample: 'far.wav': loop end 10 is past the last frame 9, it plays without a loop"},
      {"file ten.wav\nrelease 0.362\n",
       "Sample: 'ten.wav': release 0.362 ms is shorter than 16 frames, it stays 2048 frames"},
      {"file ten.wav\nrelease -500\n",
       "Sample: 'ten.wav': release -500 ms is shorter than 16 frames, it stays 2048 frames"},
      {"file ten.wav\nrelease soon\n",
       "Sample: 'ten.wav': release 'soon' is not a time in milliseconds, it stays 2048 frames"},
      {"file ten.wav\nrelease\n",
       "Sample: 'ten.wav': release '' is not a time in milliseconds, it stays 2048 frames"},
      {"file ten.wav\nrelease 48695775\n",
       "Sample: 'ten.wav': release 48695775 ms is too long, it stays 2048 frames"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    EXPECT_EQ(LoadSample(c.lines), Lines{c.line});
    EXPECT_EQ(Options(), (std::vector<int32_t>{SAMPLE_LOOP_NONE, 0, 0, 2048}));
  }
  // An unknown mode: the loop plays, continuous.
  EXPECT_EQ(LoadSample("file ten.wav\nloop 2 5 backwards\n"),
            Lines{"Sample: 'ten.wav': unknown loop mode 'backwards', the loop is continuous"});
  EXPECT_EQ(Options(), (std::vector<int32_t>{SAMPLE_LOOP_CONTINUOUS, 2, 5, 2048}));
  // The longest release that fits.
  EXPECT_EQ(LoadSample("file ten.wav\nrelease 48695774\n"), Lines{});
  EXPECT_EQ(Loaded().releaseFrames, 2147483633);
  // A block whose file does not load says nothing about its other lines.
  ResetInstrumentTable();
  EXPECT_EQ(Load("PVID\ninstrument\nsample\nloop 5\nrelease x\nfile gone.wav\n}\n}\n"),
            (Lines{"Sample: File gone.wav not found",
                   "Instrument '' has no samples, it has been discarded"}));
}

TEST_F(SampleOptions, ShapingLinesSetLevelsInExactBitsAndEachRefusalIsOneLine) {
  // Levels are 2^30 x 10^(dB / 20), rounded: the same bits on every build.
  EXPECT_EQ(LoadSample("file ten.wav\nlevel -6\ndecay 100.5 20 -30\n"), Lines{});
  const Sample& s = Loaded();
  EXPECT_EQ(s.level, 538145694);         // 2^30 x 10^-0.3
  EXPECT_EQ(s.decayStart, 4432);         // 100.5 ms of frames, truncated
  EXPECT_EQ(s.decayFactor, 1070159775);  // 20 dB a second, over 64 frames
  EXPECT_EQ(s.sustainLevel, 17017661);   // -30 dB (33954698) of the level
  EXPECT_TRUE(s.exactPitch);             // a shaped sample always plays with exact pitch
  EXPECT_EQ(LoadSample("file ten.wav\npitch exact\n"), Lines{});
  EXPECT_TRUE(Loaded().exactPitch);
  EXPECT_FALSE(Loaded().Shaped());

  const struct {
    const char* lines;
    const char* line;
  } cases[] = {
      {"file ten.wav\npitch close\n",
       "Sample: 'ten.wav': pitch 'close' is not 'exact', it plays as without the line"},
      {"file ten.wav\nlevel 3\n",
       "Sample: 'ten.wav': level '3' is not a level in dB of 0 or below, it plays at full level"},
      {"file ten.wav\nlevel -6,5\n",
       "Sample: 'ten.wav': level '-6,5' is not a level in dB of 0 or below, it plays at full "
       "level"},
      {"file ten.wav\ndecay 10 20\n",
       "Sample: 'ten.wav': decay '10 20' is not START_MS DB_PER_SECOND SUSTAIN_DB (a sustain of 0 "
       "dB or below), it plays without a decay"},
      {"file ten.wav\ndecay 10 20 6\n",
       "Sample: 'ten.wav': decay '10 20 6' is not START_MS DB_PER_SECOND SUSTAIN_DB (a sustain of "
       "0 dB or below), it plays without a decay"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    EXPECT_EQ(LoadSample(c.lines), Lines{c.line});
    EXPECT_FALSE(Loaded().Shaped());
    EXPECT_FALSE(Loaded().exactPitch);
  }
}

TEST_F(SampleOptions, AFileNamedAgainKeepsItsLoopForEverySample) {
  Load("PVID\ninstrument\nsample\nfile after.wav\n}\nsample\nfile after.wav\nloop\nend 3\n}\n}\n");
  const Instrument& instrument = *InstrumentTable[0];
  ASSERT_EQ(instrument.sampleCount, 2);
  EXPECT_EQ(instrument.samples[0]->loopMode, SAMPLE_LOOP_NONE);  // not asked for
  EXPECT_EQ(instrument.samples[1]->Frames().Left(), instrument.samples[0]->Frames().Left());
  EXPECT_EQ(instrument.samples[1]->loopMode, SAMPLE_LOOP_CONTINUOUS);
  EXPECT_EQ(instrument.samples[1]->loopStart, 2);
  EXPECT_EQ(instrument.samples[1]->loopEnd, 6);
}

TEST_F(InstrumentSet, AChannelInstrumentTakesNoSlotAndOneChannelHasOne) {
  const Lines lines = Load(
      "PVID\ninstrument\nname Drums\nID 3\nchannel 10\nsample\nfile a.wav\n}\n}\n"
      "instrument\nname Kit\nchannels 10\nsample\nfile b.wav\n}\n}\n"
      "instrument\nname Low\nchannel 0\nsample\nfile b.wav\n}\n}\n"
      "instrument\nname High\nchannel 17\nsample\nfile b.wav\n}\n}\n"
      "instrument\nname Last\nchannel 16\nsample\nfile c.wav\n}\n}\n"
      "instrument\nname Piano\nID 3\nsample\nfile b.wav\n}\n}\n");
  EXPECT_EQ(lines,
            (Lines{"Instrument ' Drums' with 1 samples has been loaded for channel 10",
                   "Instrument ' Kit' has the same channel as instrument ' Drums', the former has "
                   "been discarded",
                   "Instrument ' Low' has an invalid channel 0, it has been discarded",
                   "Instrument ' High' has an invalid channel 17, it has been discarded",
                   "Instrument ' Last' with 1 samples has been loaded for channel 16",
                   "Instrument ' Piano' with 1 samples has been loaded as ID 3"}));
  ASSERT_NE(ChannelInstrumentTable[9], nullptr);
  EXPECT_STREQ(ChannelInstrumentTable[9]->name.get(), " Drums");
  EXPECT_EQ(Marker(3, 60), 2222);  // the Piano's, not the Drums'
  ASSERT_NE(ChannelInstrumentTable[15], nullptr);
  EXPECT_EQ(ChannelInstrumentTable[15]->SampleForNote(60)->left[0], 3333);
  for (int channel = 0; channel < 15; ++channel)
    EXPECT_EQ(ChannelInstrumentTable[channel], channel == 9 ? ChannelInstrumentTable[9] : nullptr);
  EXPECT_EQ(LoadedCount(), 1);
}
