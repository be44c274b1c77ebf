#include "tools/import/ZoneResolver.h"

#include <algorithm>

namespace sf2 {
namespace {

constexpr int32_t kUnset = INT32_MIN;

struct Range {
  int32_t min;
  int32_t max;
};

// The ranges of section 8.1.3 for the generators whose value the import
// uses; the others are not clamped.
bool ClampRange(uint16_t oper, Range* range) {
  switch (oper) {
    case kInitialFilterFc:
      *range = {1500, 13500};
      return true;
    case kPan:
      *range = {-500, 500};
      return true;
    case kDelayVolEnv:
    case kHoldVolEnv:
      *range = {-12000, 5000};
      return true;
    case kAttackVolEnv:
    case kDecayVolEnv:
    case kReleaseVolEnv:
      *range = {-12000, 8000};
      return true;
    case kSustainVolEnv:
    case kInitialAttenuation:
      *range = {0, 1440};
      return true;
    case kKeynumToVolEnvHold:
    case kKeynumToVolEnvDecay:
      *range = {-1200, 1200};
      return true;
    case kCoarseTune:
      *range = {-120, 120};
      return true;
    case kFineTune:
      *range = {-99, 99};
      return true;
    case kScaleTuning:
      *range = {0, 1200};
      return true;
    case kOverridingRootKey:
      *range = {-1, 127};
      return true;
    default:
      return false;
  }
}

// Generators that are only meaningful in an instrument zone: at preset level
// they are ignored (section 8.5).
bool InstrumentOnly(uint16_t oper) {
  switch (oper) {
    case kStartAddrsOffset:
    case kEndAddrsOffset:
    case kStartloopAddrsOffset:
    case kEndloopAddrsOffset:
    case kStartAddrsCoarseOffset:
    case kEndAddrsCoarseOffset:
    case kStartloopAddrsCoarseOffset:
    case kEndloopAddrsCoarseOffset:
    case kKeynum:
    case kVelocity:
    case kSampleModes:
    case kExclusiveClass:
    case kOverridingRootKey:
    case kSampleId:
      return true;
    default:
      return false;
  }
}

// One level's zone values: every generator it sets, kUnset elsewhere.
struct Values {
  int32_t v[kGeneratorCount];
  Values() { std::fill(v, v + kGeneratorCount, kUnset); }
};

void Apply(const Zone& zone, Values* values) {
  for (const GeneratorEntry& entry : zone.generators) {
    if (entry.oper >= kGeneratorCount) continue;
    values->v[entry.oper] = entry.oper == kKeyRange || entry.oper == kVelRange
                                ? static_cast<int32_t>(entry.amount)
                                : static_cast<int32_t>(entry.Signed());
  }
}

// A zone is global when it is the first and does not end with the level's
// terminal generator (instrument or sampleID).
bool EndsWith(const Zone& zone, uint16_t oper) {
  return !zone.generators.empty() && zone.generators.back().oper == oper;
}

void RangeOf(int32_t value, int* lo, int* hi) {
  if (value == kUnset) return;
  *lo = std::max(*lo, value & 0xFF);
  *hi = std::min(*hi, (value >> 8) & 0xFF);
}

}  // namespace

int32_t DefaultValue(uint16_t oper) {
  switch (oper) {
    case kInitialFilterFc:
      return 13500;
    case 21:  // delayModLFO
    case 23:  // delayVibLFO
    case 25:  // delayModEnv
    case 26:  // attackModEnv
    case 27:  // holdModEnv
    case 28:  // decayModEnv
    case 30:  // releaseModEnv
    case kDelayVolEnv:
    case kAttackVolEnv:
    case kHoldVolEnv:
    case kDecayVolEnv:
    case kReleaseVolEnv:
      return -12000;
    case kKeyRange:
    case kVelRange:
      return 127 << 8;
    case kKeynum:
    case kVelocity:
    case kOverridingRootKey:
      return -1;
    case kScaleTuning:
      return 100;
    default:
      return 0;
  }
}

std::vector<ResolvedZone> ResolvePreset(const SoundFont& font, size_t presetIndex,
                                        std::vector<std::string>* dropped) {
  std::vector<ResolvedZone> result;
  const PresetHeader& preset = font.presets[presetIndex];
  Values presetGlobal;
  for (size_t pz = 0; pz < preset.zones.size(); ++pz) {
    const Zone& presetZone = preset.zones[pz];
    if (!EndsWith(presetZone, kInstrument)) {
      if (pz == 0) Apply(presetZone, &presetGlobal);
      continue;
    }
    Values presetValues = presetGlobal;
    Apply(presetZone, &presetValues);
    const int32_t instrumentIndex = static_cast<uint16_t>(presetValues.v[kInstrument]);
    if (instrumentIndex < 0 || static_cast<size_t>(instrumentIndex) >= font.instruments.size()) {
      dropped->push_back("a zone names instrument " + std::to_string(instrumentIndex) +
                         ", which the font does not have");
      continue;
    }
    const InstrumentHeader& instrument = font.instruments[static_cast<size_t>(instrumentIndex)];
    Values instrumentGlobal;
    for (size_t iz = 0; iz < instrument.zones.size(); ++iz) {
      const Zone& zone = instrument.zones[iz];
      if (!EndsWith(zone, kSampleId)) {
        if (iz == 0) Apply(zone, &instrumentGlobal);
        continue;
      }
      Values values = instrumentGlobal;
      Apply(zone, &values);
      ResolvedZone resolved;
      resolved.instrument = instrumentIndex;
      resolved.sample = static_cast<uint16_t>(values.v[kSampleId]);
      RangeOf(values.v[kKeyRange], &resolved.keyLo, &resolved.keyHi);
      RangeOf(values.v[kVelRange], &resolved.velLo, &resolved.velHi);
      RangeOf(presetValues.v[kKeyRange], &resolved.keyLo, &resolved.keyHi);
      RangeOf(presetValues.v[kVelRange], &resolved.velLo, &resolved.velHi);
      if (static_cast<size_t>(resolved.sample) >= font.samples.size()) {
        dropped->push_back("instrument '" + instrument.name + "' names sample " +
                           std::to_string(resolved.sample) + ", which the font does not have");
        continue;
      }
      if (resolved.keyLo > resolved.keyHi || resolved.velLo > resolved.velHi) continue;
      for (uint16_t g = 0; g < kGeneratorCount; ++g) {
        int32_t value = values.v[g] == kUnset ? DefaultValue(g) : values.v[g];
        if (!InstrumentOnly(g) && g != kKeyRange && g != kVelRange && g != kInstrument &&
            presetValues.v[g] != kUnset)
          value += presetValues.v[g];
        Range range{};
        if (ClampRange(g, &range)) value = std::clamp(value, range.min, range.max);
        resolved.gen[g] = value;
      }
      result.push_back(resolved);
    }
  }
  return result;
}

}  // namespace sf2
