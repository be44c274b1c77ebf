#include "tools/import/KeyAssignment.h"

void AssignKeys(const std::vector<ZoneCandidate>& candidates, ImportInstrument* instrument) {
  std::vector<int> owner(128, -1);
  for (int key = 0; key < 128; ++key) {
    for (size_t c = 0; c < candidates.size(); ++c) {
      const ImportZone& zone = candidates[c].zone;
      if (key < zone.keyLo || key > zone.keyHi) continue;
      if (owner[key] < 0 || candidates[c].level > candidates[static_cast<size_t>(owner[key])].level)
        owner[key] = static_cast<int>(c);
    }
  }
  std::vector<bool> used(candidates.size(), false);
  for (int key = 0; key < 128;) {
    if (owner[key] < 0) {
      ++key;
      continue;
    }
    int last = key;
    while (last + 1 < 128 && owner[last + 1] == owner[key]) ++last;
    used[static_cast<size_t>(owner[key])] = true;
    ImportZone zone = candidates[static_cast<size_t>(owner[key])].zone;
    zone.keyLo = key;
    zone.keyHi = last;
    instrument->zones.push_back(std::move(zone));
    key = last + 1;
  }
  for (size_t c = 0; c < candidates.size(); ++c)
    if (!used[c])
      instrument->dropped.push_back(candidates[c].label +
                                    ": a layer under a louder zone (one sample plays per note)");
}
