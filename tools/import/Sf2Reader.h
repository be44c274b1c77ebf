// Reads the structure of a SoundFont 2 file (RIFF "sfbk"): the preset,
// instrument and sample headers with their zones and generators, and where
// the sample data lies. SF3 files are the same structure with Ogg Vorbis
// sample data (sample type bit 0x10); their samples' start and end are byte
// offsets of each Ogg stream within the sample data, their loops count
// frames from the sample's own start.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sf2 {

// Generator operators of the SoundFont 2.04 format (section 8.1.2).
enum Generator : uint16_t {
  kStartAddrsOffset = 0,
  kEndAddrsOffset = 1,
  kStartloopAddrsOffset = 2,
  kEndloopAddrsOffset = 3,
  kStartAddrsCoarseOffset = 4,
  kInitialFilterFc = 8,
  kInitialFilterQ = 9,
  kModEnvToFilterFc = 11,
  kEndAddrsCoarseOffset = 12,
  kPan = 17,
  kDelayModEnv = 25,
  kAttackModEnv = 26,
  kHoldModEnv = 27,
  kDecayModEnv = 28,
  kSustainModEnv = 29,
  kKeynumToModEnvHold = 31,
  kKeynumToModEnvDecay = 32,
  kDelayVolEnv = 33,
  kAttackVolEnv = 34,
  kHoldVolEnv = 35,
  kDecayVolEnv = 36,
  kSustainVolEnv = 37,
  kReleaseVolEnv = 38,
  kKeynumToVolEnvHold = 39,
  kKeynumToVolEnvDecay = 40,
  kInstrument = 41,
  kKeyRange = 43,
  kVelRange = 44,
  kStartloopAddrsCoarseOffset = 45,
  kKeynum = 46,
  kVelocity = 47,
  kInitialAttenuation = 48,
  kEndloopAddrsCoarseOffset = 50,
  kCoarseTune = 51,
  kFineTune = 52,
  kSampleId = 53,
  kSampleModes = 54,
  kScaleTuning = 56,
  kExclusiveClass = 57,
  kOverridingRootKey = 58,
  kGeneratorCount = 61,
};

struct GeneratorEntry {
  uint16_t oper = 0;
  uint16_t amount = 0;  // a signed short, or a range's low byte then high byte
  int16_t Signed() const { return static_cast<int16_t>(amount); }
  uint8_t Low() const { return static_cast<uint8_t>(amount & 0xFF); }
  uint8_t High() const { return static_cast<uint8_t>(amount >> 8); }
};

struct Zone {
  std::vector<GeneratorEntry> generators;
  uint32_t modulatorCount = 0;
};

struct PresetHeader {
  std::string name;
  uint16_t preset = 0;
  uint16_t bank = 0;
  std::vector<Zone> zones;
};

struct InstrumentHeader {
  std::string name;
  std::vector<Zone> zones;
};

enum SampleType : uint16_t {
  kMonoSample = 1,
  kRightSample = 2,
  kLeftSample = 4,
  kLinkedSample = 8,
  kOggVorbis = 0x10,
  kRomSample = 0x8000,
};

struct SampleHeader {
  std::string name;
  uint32_t start = 0;
  uint32_t end = 0;
  uint32_t startLoop = 0;
  uint32_t endLoop = 0;
  uint32_t sampleRate = 0;
  uint8_t originalPitch = 60;
  int8_t pitchCorrection = 0;
  uint16_t sampleLink = 0;
  uint16_t sampleType = kMonoSample;
};

struct SoundFont {
  std::string name;  // INAM
  uint16_t versionMajor = 2;
  std::vector<PresetHeader> presets;  // without the terminal record
  std::vector<InstrumentHeader> instruments;
  std::vector<SampleHeader> samples;
  // The "smpl" chunk within the bytes read: 16-bit frames (SF2) or the
  // concatenated Ogg streams (SF3).
  size_t sampleDataOffset = 0;
  size_t sampleDataSize = 0;
  bool compressed = false;  // some sample is Ogg Vorbis
};

// True when the bytes begin a RIFF "sfbk" file.
bool LooksLikeSoundFont(const uint8_t* data, size_t size);

// Parses the file's bytes (which must outlive the result's use of
// sampleDataOffset). False with *error set to one line saying what is wrong.
bool ReadSoundFont(const uint8_t* data, size_t size, SoundFont* font, std::string* error);

}  // namespace sf2
