// Turns an SFZ kit (a text file over WAV, FLAC or Ogg samples) into one
// instrument, ID 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/import/ImportOptions.h"
#include "tools/import/ImportZone.h"

// True when the bytes are text that holds an SFZ header ("<region>", ...).
bool LooksLikeSfz(const uint8_t* data, size_t size);

// False with *error set (one line) when the kit cannot be imported: a
// sample file missing or unreadable, no region.
bool ImportSfz(const uint8_t* data, size_t size, const ImportOptions& options,
               std::vector<ImportInstrument>* instruments, std::vector<std::string>* notes,
               std::string* error);
