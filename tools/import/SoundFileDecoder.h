// Decodes sound files through libsndfile: WAV of any integer or float
// sample size, FLAC and Ogg Vorbis, from a file or from bytes in memory
// (the Ogg streams inside an SF3 font).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/import/ImportZone.h"

// The loop a sound file's own metadata gives (a WAV "smpl" chunk), end not
// included.
struct FileLoop {
  bool present = false;
  int64_t start = 0;
  int64_t end = 0;
};

// False with *error set to libsndfile's reason.
bool DecodeSoundFile(const std::string& path, SourceAudio* audio, FileLoop* loop,
                     std::string* error);
bool DecodeSoundBytes(const uint8_t* data, size_t size, SourceAudio* audio, std::string* error);
