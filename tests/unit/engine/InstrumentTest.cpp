#include <gtest/gtest.h>

#include "engine/Instrument.h"
#include "engine/InstrumentTable.h"

namespace {

TEST(Sample, AllocateReplacesTheArraysAndFreeEmpties) {
  Sample sample;
  EXPECT_EQ(sample.rate, 44100);
  EXPECT_EQ(sample.baseNote, 64);
  EXPECT_EQ(sample.length, 0);
  sample.Free();  // on an empty sample: nothing to release
  EXPECT_EQ(sample.left, nullptr);
  EXPECT_EQ(sample.right, nullptr);

  sample.Allocate(100);
  sample.left[99] = 1;
  sample.right[99] = 2;
  sample.Allocate(7);  // the 100-frame arrays are released (ASan checks)
  EXPECT_EQ(sample.length, 7);
  ASSERT_NE(sample.left, nullptr);
  ASSERT_NE(sample.right, nullptr);
  EXPECT_NE(sample.left, sample.right);
  sample.left[6] = sample.right[6] = 3;

  sample.Allocate(-1);
  EXPECT_EQ(sample.length, 0);
  EXPECT_EQ(sample.left, nullptr);
  EXPECT_EQ(sample.right, nullptr);
}

TEST(SampleFrames, OneChannelIsOneArrayForBothSides) {
  const SampleFrames mono = SampleFrames::Allocate(5, 1);
  ASSERT_TRUE(mono);
  EXPECT_EQ(mono.Left(), mono.Right());
  EXPECT_EQ(mono.Channels(), 1);
  mono.Left()[4] = 9;  // the last frame lies inside the one array (ASan checks)
  EXPECT_EQ(mono.Right()[4], 9);
  const SampleFrames stereo = SampleFrames::Allocate(5, 2);
  EXPECT_EQ(stereo.Right(), stereo.Left() + 5);
  EXPECT_EQ(stereo.Channels(), 2);
  EXPECT_FALSE(SampleFrames::Allocate(5, 3));
  EXPECT_FALSE(SampleFrames::Allocate(5, 0));
}

TEST(Instrument, NewInstrumentPlaysNothing) {
  Instrument instrument;
  EXPECT_EQ(instrument.sampleCount, 0);
  EXPECT_EQ(instrument.samples, nullptr);
  EXPECT_EQ(instrument.name, nullptr);
  EXPECT_STREQ(instrument.DisplayName(), "");
  for (int note = 0; note < 128; ++note) EXPECT_EQ(instrument.SampleForNote(note), nullptr);
}

TEST(Instrument, AddSampleAppendsInOrderAndNotesShareSamples) {
  Instrument instrument;
  Sample* a = new Sample();
  Sample* b = new Sample();
  Sample* c = new Sample();
  EXPECT_EQ(instrument.AddSample(a), 0);
  EXPECT_EQ(instrument.AddSample(b), 1);
  EXPECT_EQ(instrument.AddSample(c), 2);
  ASSERT_EQ(instrument.sampleCount, 3);
  EXPECT_EQ(instrument.samples[0].get(), a);
  EXPECT_EQ(instrument.samples[1].get(), b);
  EXPECT_EQ(instrument.samples[2].get(), c);

  instrument.noteMap[40] = 1;
  instrument.noteMap[41] = 1;
  instrument.noteMap[0] = 2;
  instrument.noteMap[127] = 0;
  EXPECT_EQ(instrument.SampleForNote(40), b);
  EXPECT_EQ(instrument.SampleForNote(41), b);
  EXPECT_EQ(instrument.SampleForNote(0), c);
  EXPECT_EQ(instrument.SampleForNote(127), a);
  EXPECT_EQ(instrument.SampleForNote(42), nullptr);
}

TEST(Instrument, NotesOutsideTheMapAndDanglingEntriesGiveNothing) {
  Instrument instrument;
  instrument.MakeDefault();
  EXPECT_EQ(instrument.SampleForNote(-1), nullptr);
  EXPECT_EQ(instrument.SampleForNote(128), nullptr);
  EXPECT_EQ(instrument.SampleForNote(INT32_MIN), nullptr);
  EXPECT_EQ(instrument.SampleForNote(INT32_MAX), nullptr);
  instrument.noteMap[5] = 1;  // no sample 1
  EXPECT_EQ(instrument.SampleForNote(5), nullptr);
}

TEST(Instrument, DefaultToneValues) {
  Instrument instrument;
  instrument.MakeDefault();
  ASSERT_EQ(instrument.sampleCount, 1);
  const Sample* tone = instrument.samples[0].get();
  EXPECT_EQ(instrument.name, nullptr);
  EXPECT_EQ(tone->rate, 44100);
  EXPECT_EQ(tone->baseNote, 64);
  ASSERT_EQ(tone->length, 131072);
  const struct {
    int32_t frame;
    int16_t left, right;
  } expected[] = {
      {0, 0, 204}, {1, 127, 331}, {2, 255, 456}, {25, 2047, 2039}, {131071, -1991, -1934}};
  for (const auto& e : expected) {
    EXPECT_EQ(tone->left[e.frame], e.left) << e.frame;
    EXPECT_EQ(tone->right[e.frame], e.right) << e.frame;
  }
  int16_t lowest = 0, highest = 0;
  for (int32_t i = 0; i < tone->length; ++i) {
    lowest = std::min({lowest, tone->left[i], tone->right[i]});
    highest = std::max({highest, tone->left[i], tone->right[i]});
  }
  EXPECT_EQ(lowest, -2047);
  EXPECT_EQ(highest, 2047);
  for (int note = 0; note < 128; ++note) EXPECT_EQ(instrument.SampleForNote(note), tone);
}

TEST(InstrumentTable, StartsEmptyWith129Slots) {
  static_assert(INSTRUMENT_TABLE_SIZE == 129 && DEFAULT_INSTRUMENT_SLOT == 128, "slots");
  for (Instrument* slot : InstrumentTable) EXPECT_EQ(slot, nullptr);
}

}  // namespace
