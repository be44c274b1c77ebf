#include <gtest/gtest.h>

#include "SmfBytes.h"
#include "tools/SmfReader.h"

namespace {

struct Expected {
  uint64_t timeUs;
  uint32_t message;
};

void ExpectEvents(const SmfReader& smf, std::initializer_list<Expected> expected) {
  ASSERT_EQ(smf.Events().size(), expected.size());
  size_t i = 0;
  for (const Expected& e : expected) {
    EXPECT_EQ(smf.Events()[i].timeUs, e.timeUs) << "event " << i;
    EXPECT_EQ(smf.Events()[i].message, e.message) << "event " << i;
    EXPECT_EQ(smf.Events()[i].timeStamp, e.timeUs / 1000) << "event " << i;
    ++i;
  }
}

std::string ParseError(const Bytes& bytes) {
  SmfReader smf;
  EXPECT_FALSE(smf.Parse(bytes.data(), bytes.size()));
  EXPECT_TRUE(smf.Events().empty());
  return smf.Error();
}

}  // namespace

TEST(SmfReader, FormatZeroWithRunningStatusAtTheDefaultTempo) {
  // 480 ticks per quarter at 120 bpm: one tick is 500000/480 us.
  Bytes file = Smf(0, 480,
                   {TrackBytes()
                        .Event(0, {0xC1, 5})         // program change: one data byte
                        .Event(0, {0x91, 60, 100})   // note on
                        .Event(240, {64, 90})        // running status
                        .Event(240, {0x81, 60, 64})  // note off
                        .Event(1, {64, 0})           // running status, 1 tick later
                        .End()});
  SmfReader smf;
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  EXPECT_EQ(smf.Format(), 0);
  EXPECT_EQ(smf.TrackCount(), 1);
  EXPECT_EQ(smf.Division(), 480);
  ExpectEvents(smf, {{0, 0x05C1},
                     {0, 0x643C91},
                     {250000, 0x5A4091},
                     {500000, 0x403C81},
                     {501041, 0x004081}});  // 481 ticks: 240500000 / 480 = 501041.66
}

TEST(SmfReader, TempoChangesPlaceNotesWhereTheTempoMapSays) {
  // Tempo track: 120 bpm, then at tick 960 (1 s) 240 bpm, then at tick 1920
  // (1.5 s) 60 bpm. Notes live in track 1.
  TrackBytes tempo;
  tempo.Tempo(0, 500000).Tempo(960, 250000).Tempo(960, 1000000).End();
  TrackBytes notes;
  notes
      .Event(480, {0x90, 60, 100})  // tick 480: 0.5 s
      .Event(960, {0x90, 62, 100})  // tick 1440: 1 s + 480 ticks at 0.25 s = 1.25 s
      .Event(960, {0x90, 64, 100})  // tick 2400: 1.5 s + 480 ticks at 1 s = 2.5 s
      .Event(1, {0x80, 64, 0})      // tick 2401: 2.5 s + 1000000/480 us
      .End();
  Bytes file = Smf(1, 480, {tempo, notes});
  SmfReader smf;
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  EXPECT_EQ(smf.TempoChangeCount(), 3u);
  ExpectEvents(smf,
               {{500000, 0x643C90}, {1250000, 0x643E90}, {2500000, 0x644090}, {2502083, 0x004080}});
}

TEST(SmfReader, TempoChangeInAnyTrackAppliesToAllAndAtItsOwnTick) {
  // The tempo change sits in track 2 at tick 96, the same tick as a note of
  // track 1: the note is already at the new tempo's start, the next one after.
  TrackBytes notes;
  notes.Event(96, {0x90, 60, 1}).Event(96, {0x90, 61, 1}).End();
  TrackBytes late;
  late.Tempo(96, 100000).End();
  Bytes file = Smf(1, 96, {TrackBytes().End(), notes, late});
  SmfReader smf;
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  ExpectEvents(smf, {{500000, 0x013C90}, {600000, 0x013D90}});
}

TEST(SmfReader, TracksMergeInTimeOrderLowerTrackFirstAtEqualTicks) {
  TrackBytes a;
  a.Event(10, {0x90, 1, 1}).Event(10, {0x80, 1, 0}).End();
  TrackBytes b;
  b.Event(0, {0x91, 2, 2}).Event(20, {0x81, 2, 0}).End();
  TrackBytes c;
  c.Event(10, {0x92, 3, 3}).End();
  Bytes file = Smf(1, 1000, {a, b, c});  // 500 us per tick
  SmfReader smf;
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  ExpectEvents(
      smf,
      {{0, 0x020291}, {5000, 0x010190}, {5000, 0x030392}, {10000, 0x000180}, {10000, 0x000281}});
}

TEST(SmfReader, SkipsMetaSysExAndUnknownChunksKeepingRunningStatus) {
  TrackBytes track;
  track.Event(0, {0x90, 60, 100})
      .Event(0, {0xFF, 0x03, 0x04, 'P', 'i', 'a', 'n'})  // track name
      .Event(0, {0xF0, 0x03, 0x7E, 0x09, 0xF7})          // system exclusive
      .Event(0, {0xF7, 0x01, 0x00})                      // escape
      .Event(0, {0xFF, 0x51, 0x02, 0x01, 0x02})          // tempo of bad length: ignored
      .Event(0, {61, 100})                               // running status still 0x90
      .End()
      .Event(0, {0x90, 99, 99});  // after the end of track: not read
  Bytes file = Smf(0, 480, {track});
  Bytes alien = Chunk("XFIH", Bytes{1, 2, 3});
  file.insert(file.begin() + 14, alien.begin(), alien.end());
  SmfReader smf;
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  EXPECT_EQ(smf.TempoChangeCount(), 0u);
  ExpectEvents(smf, {{0, 0x643C90}, {0, 0x643D90}});
}

TEST(SmfReader, LongerHeaderAndMissingEndOfTrackAreAccepted) {
  Bytes header = {0, 0, 0, 1, 0, 96, 0xAA, 0xBB};
  Bytes file = Chunk("MThd", header);
  Bytes track = Chunk("MTrk", TrackBytes().Event(96, {0xE0, 0, 64}).Data());
  file.insert(file.end(), track.begin(), track.end());
  SmfReader smf;
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  ExpectEvents(smf, {{500000, 0x4000E0}});
}

TEST(SmfReader, MalformedFilesEndWithAClearError) {
  Bytes good = Smf(0, 96, {TrackBytes().Event(0, {0x90, 60, 100}).End()});
  EXPECT_EQ(ParseError(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}),
            "not a Standard MIDI File (no MThd header)");
  EXPECT_EQ(ParseError(Bytes{'M', 'T', 'h'}), "not a Standard MIDI File (no MThd header)");

  Bytes shortHeader = Chunk("MThd", Bytes{0, 0, 0, 1, 0});
  EXPECT_EQ(ParseError(shortHeader), "bad header length 5 (at least 6)");
  Bytes longHeader = good;
  longHeader[7] = 200;
  EXPECT_EQ(ParseError(longHeader), "header length 200 runs past the end of the file (" +
                                        std::to_string(good.size() - 8) + " bytes left)");

  EXPECT_EQ(ParseError(Smf(0, 0xE728, {TrackBytes().End()})),
            "SMPTE time division is not supported, only ticks per quarter note");
  EXPECT_EQ(ParseError(Smf(0, 0, {TrackBytes().End()})), "bad division 0 ticks per quarter note");
  EXPECT_EQ(ParseError(Smf(2, 96, {TrackBytes().End()})),
            "SMF format 2 (independent sequences) is not supported");
  EXPECT_EQ(ParseError(Smf(7, 96, {TrackBytes().End()})), "unknown SMF format 7");
  EXPECT_EQ(ParseError(Smf(1, 96, {})), "the header announces no tracks");

  Bytes missingTrack = good;
  missingTrack[11] = 2;
  EXPECT_EQ(ParseError(missingTrack), "the header announces 2 tracks, the file holds 1");

  Bytes badLength = good;  // track chunk at offset 14 claims 0x100 bytes
  badLength[20] = 1;
  EXPECT_EQ(ParseError(badLength), "chunk length " + std::to_string(256 + good[21]) +
                                       " at offset 14 runs past the end of the file (" +
                                       std::to_string(good.size() - 22) + " bytes left)");

  Bytes halfChunkHeader(good.begin(), good.begin() + 18);
  halfChunkHeader[11] = 1;
  EXPECT_EQ(ParseError(halfChunkHeader), "truncated chunk header at offset 14");
}

TEST(SmfReader, MalformedEventsNameTheTrackAndOffset) {
  // Track bytes start at file offset 22.
  EXPECT_EQ(ParseError(Smf(0, 96, {TrackBytes().Event(0, {60, 100})})),
            "track 0: data byte 0x3C without a status byte at offset 23");
  EXPECT_EQ(ParseError(Smf(0, 96, {TrackBytes().Event(0, {0xF1, 0x00})})),
            "track 0: status 0xF1 is not allowed in a MIDI file at offset 23");
  EXPECT_EQ(ParseError(Smf(0, 96, {TrackBytes().Event(0, {0x90, 60, 0x90})})),
            "track 0: status byte 0x90 where a data byte belongs at offset 25");
  EXPECT_EQ(ParseError(Smf(0, 96, {TrackBytes().Event(0, {0x90, 60})})),
            "track 0: event runs past the end of its chunk at offset 24");
  EXPECT_EQ(ParseError(Smf(0, 96, {TrackBytes().Event(0, {0xFF, 0x01, 0x09, 'a'})})),
            "track 0: event runs past the end of its chunk at offset 26");
  Bytes longNumber = {0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 1};
  TrackBytes raw;
  Bytes file = Smf(0, 96, {raw});
  Bytes chunk = Chunk("MTrk", longNumber);
  file.resize(14);
  file.insert(file.end(), chunk.begin(), chunk.end());
  EXPECT_EQ(ParseError(file), "track 0: variable-length number longer than 4 bytes at offset 22");
  // Second track, second event: the offset counts from the file's start.
  TrackBytes first;
  first.Event(0, {0x90, 1, 1}).End();
  TrackBytes second;
  second.Event(0, {0x90, 1, 1}).Event(0, {0xF4});
  Bytes two = Smf(1, 96, {first, second});
  EXPECT_EQ(ParseError(two), "track 1: status 0xF4 is not allowed in a MIDI file at offset " +
                                 std::to_string(two.size() - 1));
}

TEST(SmfReader, EveryTruncationOfAFileFailsCleanly) {
  TrackBytes tempo;
  tempo.Tempo(0, 400000).Event(0, {0xFF, 0x03, 0x02, 'h', 'i'}).End();
  TrackBytes notes;
  notes.Event(0, {0xC0, 3})
      .Event(10, {0x90, 60, 100})
      .Event(300, {0x80, 60, 0})
      .Event(0, {0xF0, 0x02, 0x01, 0xF7})
      .End();
  Bytes file = Smf(1, 120, {tempo, notes});
  for (size_t size = 0; size < file.size(); ++size) {
    SmfReader smf;
    // Parse reads only the bytes it was given: ASan sees any read past them.
    Bytes prefix(file.begin(), file.begin() + size);
    EXPECT_FALSE(smf.Parse(prefix.data(), prefix.size())) << "size " << size;
    EXPECT_FALSE(smf.Error().empty()) << "size " << size;
  }
  SmfReader whole;
  EXPECT_TRUE(whole.Parse(file.data(), file.size())) << whole.Error();
  EXPECT_EQ(whole.Events().size(), 3u);
}

TEST(SmfReader, AbsurdTempoMapSaturatesInsteadOfWrapping) {
  // 0x0FFFFFFF ticks at the slowest tempo, 5000 times over, at division 1:
  // beyond 64 bits of microseconds x division.
  TrackBytes track;
  track.Tempo(0, 0xFFFFFF);
  for (int i = 0; i < 5000; ++i) track.Event(0x0FFFFFFF, {0x90, 60, 1});
  Bytes file = Smf(0, 1, {track.End()});
  SmfReader smf;
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  ASSERT_EQ(smf.Events().size(), 5000u);
  EXPECT_EQ(smf.Events()[0].timeUs, 0x0FFFFFFFull * 0xFFFFFF);
  EXPECT_EQ(smf.Events()[4999].timeUs, UINT64_MAX);
  for (size_t i = 1; i < 5000; ++i) EXPECT_GE(smf.Events()[i].timeUs, smf.Events()[i - 1].timeUs);
}

TEST(SmfReader, ThePieceEndsAtTheLatestEndOfTrack) {
  // 96 ticks per quarter. The tempo track ends at tick 192 after a change to
  // 240 bpm at tick 96 (0.5 s); the note ends at tick 120, its track at tick
  // 480, 1.5 s of silence later: 0.5 s + 384 ticks of 250000 / 96 us.
  TrackBytes tempo;
  tempo.Tempo(96, 250000).End(96);
  TrackBytes notes;
  notes.Event(96, {0x90, 60, 100}).Event(24, {0x80, 60, 0}).End(360);
  Bytes file = Smf(1, 96, {tempo, notes});
  SmfReader smf;
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  EXPECT_EQ(smf.Events().back().timeUs, 562500u);
  EXPECT_EQ(smf.EndTimeUs(), 1500000u);

  // A track cut short without its End of Track ends at its last event.
  TrackBytes cut;
  cut.Event(0, {0x90, 60, 100}).Event(960, {0x80, 60, 0});
  file = Smf(0, 96, {cut});
  ASSERT_TRUE(smf.Parse(file.data(), file.size())) << smf.Error();
  EXPECT_EQ(smf.EndTimeUs(), 5000000u);
}
