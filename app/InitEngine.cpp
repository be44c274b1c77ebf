#include "app/InitEngine.h"

#include "engine/Instrument.h"
#include "engine/InstrumentTable.h"
#include "engine/PitchTable.h"
#include "loading/InstrumentSet.h"

void InitEngine() {
  BuildPitchTable();
  Instrument* defaultInstrument = new Instrument();
  InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = defaultInstrument;
  defaultInstrument->MakeDefault();
  // Called directly, not through Sample::LoadFile: a missing file is named by
  // the loader's own open failure. Any failure leaves the built-in tone as it
  // was, so the result does not matter here.
  defaultInstrument->samples[0]->LoadWave("default.wav");
  for (int slot = 0; slot < DEFAULT_INSTRUMENT_SLOT; ++slot) InstrumentTable[slot] = nullptr;
  LoadInstrumentSet("default.pvi");
}
