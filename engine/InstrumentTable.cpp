#include "engine/InstrumentTable.h"

Instrument* InstrumentTable[INSTRUMENT_TABLE_SIZE] = {};
