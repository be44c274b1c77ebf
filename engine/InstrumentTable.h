// The process-wide instruments: slots 0 to 127 by ID (the MIDI program that
// selects them), slot 128 the default instrument. Written at start-up on the
// user-interface thread only, read-only once any synthesizer exists.
#pragma once
#include "engine/Instrument.h"

constexpr int INSTRUMENT_TABLE_SIZE = 129;
constexpr int DEFAULT_INSTRUMENT_SLOT = 128;

extern Instrument* InstrumentTable[INSTRUMENT_TABLE_SIZE];

// Instruments bound to a MIDI channel, index 0 for channel 1 (as musicians
// count) to 15 for channel 16: such an instrument plays every note on its
// channel, whatever program the channel has selected, and takes no slot of
// InstrumentTable. Written and read like InstrumentTable.
constexpr int CHANNEL_INSTRUMENT_COUNT = 16;
extern Instrument* ChannelInstrumentTable[CHANNEL_INSTRUMENT_COUNT];
