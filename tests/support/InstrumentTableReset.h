// Empties every slot of the process-wide instrument table, destroying what
// was there, so that each test starts and ends with a clean table.
#pragma once
#include "engine/InstrumentTable.h"

inline void ResetInstrumentTable() {
  for (Instrument*& slot : InstrumentTable) {
    delete slot;
    slot = nullptr;
  }
}
