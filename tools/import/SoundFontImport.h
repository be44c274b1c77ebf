// Turns a SoundFont 2 or 3 file's presets into instruments: every preset of
// the chosen bank by its preset number, and the drum kit (bank 128) as the
// instrument of MIDI channel 10.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/import/ImportOptions.h"
#include "tools/import/ImportZone.h"
#include "tools/import/Sf2Reader.h"

// Called with (presets done, presets in all) as the work goes on.
using ImportProgress = std::function<void(size_t, size_t)>;

// False with *error set (one line) when the file is not a SoundFont, is
// damaged, or has no preset in the bank asked for.
bool ImportSoundFont(const uint8_t* data, size_t size, const ImportOptions& options,
                     std::vector<ImportInstrument>* instruments, std::string* fontName,
                     std::string* error, const ImportProgress& progress = nullptr);

// The zones one resolved preset plays at the velocity, one sample per key,
// stereo pairs joined (exposed for the tests).
bool BuildSoundFontInstrument(const sf2::SoundFont& font, const uint8_t* data, size_t presetIndex,
                              int velocity, ImportInstrument* instrument,
                              std::vector<std::shared_ptr<const SourceAudio>>* sampleCache,
                              std::string* error);
