// The engine plays one sample per note: where zones share keys, each key
// goes to the loudest zone that plays it, and the zones left under others
// are named.
#pragma once
#include <string>
#include <vector>

#include "tools/import/ImportZone.h"

struct ZoneCandidate {
  ImportZone zone;
  double level = 1.0;  // the louder zone wins a key shared with another
  std::string label;   // for the report
};

// Appends to instrument->zones one zone per run of keys with the same
// owner, and to instrument->dropped the candidates that own no key.
void AssignKeys(const std::vector<ZoneCandidate>& candidates, ImportInstrument* instrument);
