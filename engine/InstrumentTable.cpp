#include "engine/InstrumentTable.h"

Instrument* InstrumentTable[INSTRUMENT_TABLE_SIZE] = {};
Instrument* ChannelInstrumentTable[CHANNEL_INSTRUMENT_COUNT] = {};
