#include "tools/import/SoundFileDecoder.h"

#include <sndfile.h>

#include <cstring>

namespace {

struct MemoryFile {
  const uint8_t* data;
  sf_count_t size;
  sf_count_t position;
};

sf_count_t Length(void* user) { return static_cast<MemoryFile*>(user)->size; }
sf_count_t Seek(sf_count_t offset, int whence, void* user) {
  MemoryFile* file = static_cast<MemoryFile*>(user);
  sf_count_t to = offset;
  if (whence == SEEK_CUR) to += file->position;
  if (whence == SEEK_END) to += file->size;
  if (to < 0 || to > file->size) return -1;
  file->position = to;
  return to;
}
sf_count_t Read(void* out, sf_count_t count, void* user) {
  MemoryFile* file = static_cast<MemoryFile*>(user);
  const sf_count_t left = file->size - file->position;
  const sf_count_t n = count < left ? count : left;
  if (n > 0) std::memcpy(out, file->data + file->position, static_cast<size_t>(n));
  file->position += n > 0 ? n : 0;
  return n > 0 ? n : 0;
}
sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
sf_count_t Tell(void* user) { return static_cast<MemoryFile*>(user)->position; }

bool ReadAll(SNDFILE* file, const SF_INFO& info, SourceAudio* audio, std::string* error) {
  if (info.channels < 1 || info.channels > 2) {
    *error = "unsupported channel count (" + std::to_string(info.channels) + ")";
    return false;
  }
  if (info.samplerate <= 0) {
    *error = "no sample rate";
    return false;
  }
  audio->channels = info.channels;
  audio->rate = info.samplerate;
  audio->frames.clear();
  // Frame counts of compressed streams are estimates; read until the end.
  std::vector<float> block(static_cast<size_t>(4096 * info.channels));
  for (;;) {
    const sf_count_t got = sf_readf_float(file, block.data(), 4096);
    if (got <= 0) break;
    audio->frames.insert(audio->frames.end(), block.begin(),
                         block.begin() + static_cast<ptrdiff_t>(got * info.channels));
    if (audio->frames.size() > (size_t{1} << 31)) {
      *error = "the sound is too long";
      return false;
    }
  }
  if (sf_error(file) != SF_ERR_NO_ERROR) {
    *error = sf_strerror(file);
    return false;
  }
  return true;
}

}  // namespace

bool DecodeSoundFile(const std::string& path, SourceAudio* audio, FileLoop* loop,
                     std::string* error) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    *error = sf_strerror(nullptr);
    return false;
  }
  // Integer files are read as floats at full scale 1.0, not normalised to
  // their peak.
  sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  SF_INSTRUMENT instrument{};
  if (loop) {
    *loop = FileLoop();
    if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE &&
        instrument.loop_count > 0 && instrument.loops[0].end > instrument.loops[0].start) {
      loop->present = true;
      loop->start = instrument.loops[0].start;
      // libsndfile gives the smpl chunk's end plus one.
      loop->end = instrument.loops[0].end;
    }
  }
  const bool ok = ReadAll(file, info, audio, error);
  sf_close(file);
  return ok;
}

bool DecodeSoundBytes(const uint8_t* data, size_t size, SourceAudio* audio, std::string* error) {
  MemoryFile memory{data, static_cast<sf_count_t>(size), 0};
  SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
  if (!file) {
    *error = sf_strerror(nullptr);
    return false;
  }
  const bool ok = ReadAll(file, info, audio, error);
  sf_close(file);
  return ok;
}
