// The process-wide instruments: slots 0 to 127 by ID (the MIDI program that
// selects them), slot 128 the default instrument. Written at start-up on the
// user-interface thread only, read-only once any synthesizer exists.
#pragma once
#include "engine/Instrument.h"

constexpr int INSTRUMENT_TABLE_SIZE = 129;
constexpr int DEFAULT_INSTRUMENT_SLOT = 128;

extern Instrument* InstrumentTable[INSTRUMENT_TABLE_SIZE];
