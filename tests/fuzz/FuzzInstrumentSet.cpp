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
  for (int slot = 0; slot < DEFAULT_INSTRUMENT_SLOT; ++slot) {
    const Instrument* in = InstrumentTable[slot];
    if (!in) continue;
    if (in->sampleCount <= 0) abort();
    for (int note = 0; note < 128; ++note) {
      if (in->noteMap[note] < -1 || in->noteMap[note] >= in->sampleCount) abort();
    }
    for (int i = 0; i < in->sampleCount; ++i) {
      if (!in->samples[i] || in->samples[i]->length <= 0) abort();
    }
  }
  ResetInstrumentTable();
  return 0;
}
