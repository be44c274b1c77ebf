// Builds Standard MIDI Files byte by byte for the tests.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void AppendBigEndian(Bytes* out, uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void AppendNumber(Bytes* out, uint32_t value) {
  uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = value & 0x7F;
    value >>= 7;
  } while (value);
  while (n > 1) out->push_back(static_cast<uint8_t>(groups[--n] | 0x80));
  out->push_back(groups[0]);
}

// A track's events: raw bytes after each delta time.
class TrackBytes {
 public:
  TrackBytes& Event(uint32_t delta, std::initializer_list<uint8_t> bytes) {
    AppendNumber(&data_, delta);
    data_.insert(data_.end(), bytes);
    return *this;
  }
  TrackBytes& Tempo(uint32_t delta, uint32_t microsecondsPerQuarter) {
    AppendNumber(&data_, delta);
    data_.insert(data_.end(), {0xFF, 0x51, 0x03});
    AppendBigEndian(&data_, microsecondsPerQuarter, 3);
    return *this;
  }
  TrackBytes& End(uint32_t delta = 0) { return Event(delta, {0xFF, 0x2F, 0x00}); }
  const Bytes& Data() const { return data_; }

 private:
  Bytes data_;
};

inline Bytes Chunk(const char* id, const Bytes& body) {
  Bytes out(id, id + 4);
  AppendBigEndian(&out, static_cast<uint32_t>(body.size()), 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

inline Bytes Smf(int format, int division, std::initializer_list<TrackBytes> tracks) {
  Bytes header;
  AppendBigEndian(&header, format, 2);
  AppendBigEndian(&header, static_cast<uint32_t>(tracks.size()), 2);
  AppendBigEndian(&header, division, 2);
  Bytes out = Chunk("MThd", header);
  for (const TrackBytes& track : tracks) {
    Bytes chunk = Chunk("MTrk", track.Data());
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}
