// Resolves the generators of a SoundFont preset into the zones that sound,
// as the SoundFont 2.04 format defines it (sections 7.3 to 9.4): an
// instrument's global zone gives defaults that its local zones override
// (each generator replaced, never added), the preset's global zone does the
// same for its local zones, the preset-level values are then added to the
// instrument-level ones (except the generators a preset may not carry),
// key and velocity ranges intersect, and the sums are clamped to each
// generator's range.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/import/Sf2Reader.h"

namespace sf2 {

struct ResolvedZone {
  int32_t gen[kGeneratorCount];
  int keyLo = 0;
  int keyHi = 127;
  int velLo = 0;
  int velHi = 127;
  int instrument = -1;
  int sample = -1;
};

// The default value of each generator.
int32_t DefaultValue(uint16_t oper);

// Every zone preset presetIndex plays. Zones that cannot sound (a sample or
// instrument index out of range, an empty range) are left out, each with a
// line in *dropped.
std::vector<ResolvedZone> ResolvePreset(const SoundFont& font, size_t presetIndex,
                                        std::vector<std::string>* dropped);

}  // namespace sf2
