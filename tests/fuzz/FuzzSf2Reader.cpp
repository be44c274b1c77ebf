// libFuzzer target: the SoundFont reader and what the import does with a
// font's structure: every preset resolved and its zones built (sample data
// decoded, SF3 streams through libsndfile). Beyond not crashing: a failed
// read says why, every zone it keeps lies within its sample and its keys.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/import/Sf2Reader.h"
#include "tools/import/SoundFontImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sf2::SoundFont font;
  std::string error;
  if (!sf2::ReadSoundFont(data, size, &font, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  std::vector<std::shared_ptr<const SourceAudio>> cache;
  for (size_t p = 0; p < font.presets.size() && p < 8; ++p) {
    ImportInstrument instrument;
    if (!BuildSoundFontInstrument(font, data, p, 100, &instrument, &cache, &error)) continue;
    for (const ImportZone& zone : instrument.zones) {
      const int64_t frames = static_cast<int64_t>(zone.audio[0]->FrameCount());
      if (zone.start < 0 || zone.end > frames || zone.start >= zone.end) __builtin_trap();
      if (zone.keyLo < 0 || zone.keyHi > 127 || zone.keyLo > zone.keyHi) __builtin_trap();
      if (zone.loop != LoopMode::kNone && (zone.loopStart < 0 || zone.loopEnd <= zone.loopStart ||
                                           zone.loopEnd > zone.end - zone.start))
        __builtin_trap();
    }
  }
  return 0;
}
