// LoadInstrumentSet on arbitrary bytes as "default.pvi", next to two small
// WAV files the text may name. Whatever it loads must keep the table's and
// the note maps' invariants; slot 128 is never written.
#include <cstdint>
#include <cstdlib>

#include "engine/InstrumentTable.h"
#include "fuzz/FuzzFolder.h"
#include "loading/InstrumentSet.h"
#include "support/InstrumentTableReset.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzFolder();
  WriteBytes("a.wav", Wave(1, 44100, 16, Values16({1, 2, 3})));
  WriteBytes("b.wav", Wave(2, 22050, 8, {0x80, 0x81, 0x7F, 0x00}));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteBytes("default.pvi", Bytes(data, data + size));
  LoadInstrumentSet("default.pvi");
  if (InstrumentTable[DEFAULT_INSTRUMENT_SLOT]) abort();
  // The table's instruments and the channels' own alike; a loop lies inside
  // its sample and a release lasts at least 16 frames.
  const Instrument* loaded[DEFAULT_INSTRUMENT_SLOT + CHANNEL_INSTRUMENT_COUNT];
  for (int slot = 0; slot < DEFAULT_INSTRUMENT_SLOT; ++slot) loaded[slot] = InstrumentTable[slot];
  for (int channel = 0; channel < CHANNEL_INSTRUMENT_COUNT; ++channel)
    loaded[DEFAULT_INSTRUMENT_SLOT + channel] = ChannelInstrumentTable[channel];
  for (const Instrument* in : loaded) {
    if (!in) continue;
    if (in->sampleCount <= 0) abort();
    for (int note = 0; note < 128; ++note) {
      if (in->noteMap[note] < -1 || in->noteMap[note] >= in->sampleCount) abort();
    }
    for (int i = 0; i < in->sampleCount; ++i) {
      const Sample* s = in->samples[i].get();
      if (!s || s->length <= 0) abort();
      if (s->loopMode != SAMPLE_LOOP_NONE && !s->Loops()) abort();
      if (s->releaseFrames < 16) abort();
    }
  }
  ResetInstrumentTable();
  return 0;
}
