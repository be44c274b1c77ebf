#include "app/InitEngine.h"

#include <memory>
#include <new>

#include "engine/Instrument.h"
#include "engine/InstrumentTable.h"
#include "engine/PitchTable.h"
#include "loading/InstrumentSet.h"
#include "loading/WaveLoader.h"
#include "log/Log.h"

void InitEngine() {
  BuildPitchTable();
  std::unique_ptr<Instrument> made(new (std::nothrow) Instrument());
  if (made && !made->MakeDefault()) made.reset();
  // From here on the table owns it.
  Instrument* defaultInstrument = made.release();
  InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = defaultInstrument;
  if (!defaultInstrument) {
    // Notes without an instrument of their own are then ignored.
    LogMessage("Not enough memory for the default instrument, it has not been made");
  } else {
    // Called directly, not through LoadFile: a missing file is named by
    // the loader's own open failure. Any failure leaves the built-in tone as it
    // was, so the result does not matter here.
    LoadWave(*defaultInstrument->samples[0], "default.wav");
  }
  for (int slot = 0; slot < DEFAULT_INSTRUMENT_SLOT; ++slot) InstrumentTable[slot] = nullptr;
  for (Instrument*& own : ChannelInstrumentTable) own = nullptr;
  LoadInstrumentSet("default.pvi");
}
