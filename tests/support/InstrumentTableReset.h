// Empties every slot of the process-wide instrument table and the channels'
// instruments, destroying what was there, so that each test starts and ends
// with clean tables.
#pragma once
#include "engine/InstrumentTable.h"

inline void ResetInstrumentTable() {
  for (Instrument*& slot : InstrumentTable) {
    delete slot;
    slot = nullptr;
  }
  for (Instrument*& own : ChannelInstrumentTable) {
    delete own;
    own = nullptr;
  }
}
