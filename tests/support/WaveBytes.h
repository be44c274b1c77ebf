// Builds RIFF WAVE files byte by byte, so tests and fuzz seeds can write
// exactly the variant they need (odd chunks, misplaced chunks, bad sizes).
#pragma once
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void PutLe16(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void PutLe32(Bytes& out, uint32_t value) {
  PutLe16(out, value & 0xFFFF);
  PutLe16(out, value >> 16);
}

inline void PutId(Bytes& out, const char* id) { out.insert(out.end(), id, id + 4); }

// A chunk: id, size (the data's size unless given), data, pad byte when odd.
inline Bytes Chunk(const char* id, const Bytes& data, int64_t declaredSize = -1) {
  Bytes out;
  PutId(out, id);
  PutLe32(out, declaredSize < 0 ? static_cast<uint32_t>(data.size())
                                : static_cast<uint32_t>(declaredSize));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2) out.push_back(0);
  return out;
}

// The 16-byte format record, followed by extra bytes up to size.
inline Bytes FormatRecord(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                          size_t size = 16) {
  Bytes out;
  PutLe16(out, tag);
  PutLe16(out, channels);
  PutLe32(out, rate);
  PutLe32(out, rate * channels * bits / 8);
  PutLe16(out, static_cast<uint16_t>(channels * bits / 8));
  PutLe16(out, bits);
  out.resize(size, 0);
  return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// "RIFF", size, form type, then the chunks as given.
inline Bytes Riff(const Bytes& chunks, const char* form = "WAVE") {
  Bytes out;
  PutId(out, "RIFF");
  PutLe32(out, static_cast<uint32_t>(chunks.size() + 4));
  PutId(out, form);
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

// A plain PCM file: "fmt " then "data".
inline Bytes Wave(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data) {
  return Riff(Concat({Chunk("fmt ", FormatRecord(1, channels, rate, bits)), Chunk("data", data)}));
}

// A "smpl" chunk's data with the given loops (first and last frame each):
// the 36 bytes of sampler data, then 24 bytes per loop.
inline Bytes SamplerData(std::initializer_list<std::pair<uint32_t, uint32_t>> loops) {
  Bytes out;
  for (int i = 0; i < 7; ++i) PutLe32(out, i == 3 ? 60 : 0);  // unity note 60
  PutLe32(out, static_cast<uint32_t>(loops.size()));
  PutLe32(out, 0);
  for (const auto& loop : loops) {
    PutLe32(out, 0);  // cue point
    PutLe32(out, 0);  // forward
    PutLe32(out, loop.first);
    PutLe32(out, loop.second);
    PutLe32(out, 0);
    PutLe32(out, 0);  // forever
  }
  return out;
}

// 16-bit values as little-endian bytes.
inline Bytes Values16(std::initializer_list<int16_t> values) {
  Bytes out;
  for (int16_t v : values) PutLe16(out, static_cast<uint16_t>(v));
  return out;
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}
