#include "tools/import/Sf2Reader.h"

#include <cstring>

namespace sf2 {
namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool IsTag(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

// A chunk id is four printable ASCII characters.
bool LooksLikeId(const uint8_t* p) {
  for (int i = 0; i < 4; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

std::string FixedString(const uint8_t* p, size_t n) {
  size_t length = 0;
  while (length < n && p[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(p), length);
}

struct Chunk {
  const uint8_t* id = nullptr;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The chunks in [begin, end). An odd-sized chunk is followed by a pad byte,
// which some writers leave out: the next chunk is then taken where an id
// stands whose chunk fits. False when a chunk does not fit.
bool ListChunks(const uint8_t* begin, const uint8_t* end, std::vector<Chunk>* chunks) {
  const uint8_t* p = begin;
  while (end - p >= 8) {
    Chunk chunk;
    chunk.id = p;
    chunk.size = U32(p + 4);
    chunk.data = p + 8;
    if (chunk.size > static_cast<size_t>(end - chunk.data)) return false;
    chunks->push_back(chunk);
    const uint8_t* next = chunk.data + chunk.size;
    if ((chunk.size & 1) != 0 && end - next >= 1) {
      auto fits = [&](const uint8_t* at) {
        return end - at >= 8 && LooksLikeId(at) && U32(at + 4) <= static_cast<size_t>(end - at - 8);
      };
      const bool padded = fits(next + 1);
      const bool unpadded = fits(next);
      if (padded || !unpadded) next += 1;
    }
    p = next;
  }
  return true;
}

const Chunk* Find(const std::vector<Chunk>& chunks, const char* tag) {
  for (const Chunk& chunk : chunks)
    if (IsTag(chunk.id, tag)) return &chunk;
  return nullptr;
}

bool Fail(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

struct Bag {
  uint16_t generator = 0;
  uint16_t modulator = 0;
};

// Reads the bag and generator lists of one hierarchy level (preset or
// instrument) and hands each header its zones.
template <typename Header>
bool ReadZones(const std::vector<Chunk>& pdta, const char* bagTag, const char* modTag,
               const char* genTag, const std::vector<uint16_t>& bagIndex,
               std::vector<Header>* headers, std::string* error) {
  const Chunk* bagChunk = Find(pdta, bagTag);
  const Chunk* genChunk = Find(pdta, genTag);
  const Chunk* modChunk = Find(pdta, modTag);
  if (!bagChunk || !genChunk)
    return Fail(error, std::string("the font has no '") + (bagChunk ? genTag : bagTag) + "' list");
  if (bagChunk->size % 4 != 0 || bagChunk->size < 4 || genChunk->size % 4 != 0)
    return Fail(error, std::string("the '") + bagTag + "' or '" + genTag +
                           "' list has a size that is not a whole number of records");
  const size_t bagCount = bagChunk->size / 4;
  const size_t genCount = genChunk->size / 4;
  const size_t modCount = modChunk ? modChunk->size / 10 : 0;
  std::vector<Bag> bags(bagCount);
  for (size_t i = 0; i < bagCount; ++i) {
    bags[i].generator = U16(bagChunk->data + 4 * i);
    bags[i].modulator = U16(bagChunk->data + 4 * i + 2);
  }
  for (size_t h = 0; h < headers->size(); ++h) {
    const size_t first = bagIndex[h];
    const size_t last = bagIndex[h + 1];
    if (first > last || last >= bagCount)
      return Fail(error, std::string("the zone indices of '") + (*headers)[h].name +
                             "' are out of order or out of range");
    for (size_t b = first; b < last; ++b) {
      const size_t g0 = bags[b].generator;
      const size_t g1 = bags[b + 1].generator;
      if (g0 > g1 || g1 > genCount)
        return Fail(error, std::string("the generator indices of '") + (*headers)[h].name +
                               "' are out of order or out of range");
      Zone zone;
      for (size_t g = g0; g < g1; ++g) {
        GeneratorEntry entry;
        entry.oper = U16(genChunk->data + 4 * g);
        entry.amount = U16(genChunk->data + 4 * g + 2);
        zone.generators.push_back(entry);
      }
      const size_t m0 = bags[b].modulator;
      const size_t m1 = bags[b + 1].modulator;
      zone.modulatorCount = m1 >= m0 && m1 <= modCount ? static_cast<uint32_t>(m1 - m0) : 0;
      (*headers)[h].zones.push_back(std::move(zone));
    }
  }
  return true;
}

}  // namespace

bool LooksLikeSoundFont(const uint8_t* data, size_t size) {
  return size >= 12 && IsTag(data, "RIFF") && IsTag(data + 8, "sfbk");
}

bool ReadSoundFont(const uint8_t* data, size_t size, SoundFont* font, std::string* error) {
  *font = SoundFont();
  if (!LooksLikeSoundFont(data, size))
    return Fail(error, "not a SoundFont (no RIFF 'sfbk' header)");
  // A RIFF size past the end is a truncated file; what is there is read,
  // and a missing list is reported by name.
  size_t riffSize = U32(data + 4);
  if (riffSize < 4) return Fail(error, "the RIFF chunk is empty");
  const bool truncated = riffSize > size - 8;
  if (truncated) riffSize = size - 8;
  std::vector<Chunk> top;
  if (!ListChunks(data + 12, data + 8 + riffSize, &top))
    return Fail(error,
                truncated ? "the file is truncated" : "a chunk runs past the end of the file");
  const Chunk* info = nullptr;
  const Chunk* sdta = nullptr;
  const Chunk* pdtaList = nullptr;
  for (const Chunk& chunk : top) {
    if (!IsTag(chunk.id, "LIST") || chunk.size < 4) continue;
    if (IsTag(chunk.data, "INFO")) info = &chunk;
    if (IsTag(chunk.data, "sdta")) sdta = &chunk;
    if (IsTag(chunk.data, "pdta")) pdtaList = &chunk;
  }
  if (!sdta || !pdtaList)
    return Fail(error,
                truncated ? "the file is truncated"
                          : std::string("the font has no '") + (sdta ? "pdta" : "sdta") + "' list");
  if (info) {
    std::vector<Chunk> infoChunks;
    if (ListChunks(info->data + 4, info->data + info->size, &infoChunks)) {
      if (const Chunk* ifil = Find(infoChunks, "ifil"); ifil && ifil->size >= 4)
        font->versionMajor = U16(ifil->data);
      if (const Chunk* inam = Find(infoChunks, "INAM"))
        font->name = FixedString(inam->data, inam->size);
    }
  }
  std::vector<Chunk> sdtaChunks;
  if (!ListChunks(sdta->data + 4, sdta->data + sdta->size, &sdtaChunks))
    return Fail(error, "the sample data list is damaged");
  if (const Chunk* smpl = Find(sdtaChunks, "smpl")) {
    font->sampleDataOffset = static_cast<size_t>(smpl->data - data);
    font->sampleDataSize = smpl->size;
  }
  std::vector<Chunk> pdta;
  if (!ListChunks(pdtaList->data + 4, pdtaList->data + pdtaList->size, &pdta))
    return Fail(error, "the preset data list is damaged");

  const Chunk* phdr = Find(pdta, "phdr");
  const Chunk* inst = Find(pdta, "inst");
  const Chunk* shdr = Find(pdta, "shdr");
  if (!phdr || !inst || !shdr)
    return Fail(error, std::string("the font has no '") +
                           (!phdr   ? "phdr"
                            : !inst ? "inst"
                                    : "shdr") +
                           "' list");
  if (phdr->size % 38 != 0 || phdr->size < 76 || inst->size % 22 != 0 || inst->size < 44 ||
      shdr->size % 46 != 0 || shdr->size < 46)
    return Fail(error, "a header list has a size that is not a whole number of records");

  // Every list ends with a terminal record that only bounds the last zone.
  const size_t presetCount = phdr->size / 38 - 1;
  std::vector<uint16_t> presetBags(presetCount + 1);
  for (size_t i = 0; i <= presetCount; ++i) {
    const uint8_t* p = phdr->data + 38 * i;
    presetBags[i] = U16(p + 24);
    if (i == presetCount) break;
    PresetHeader header;
    header.name = FixedString(p, 20);
    header.preset = U16(p + 20);
    header.bank = U16(p + 22);
    font->presets.push_back(std::move(header));
  }
  const size_t instrumentCount = inst->size / 22 - 1;
  std::vector<uint16_t> instrumentBags(instrumentCount + 1);
  for (size_t i = 0; i <= instrumentCount; ++i) {
    const uint8_t* p = inst->data + 22 * i;
    instrumentBags[i] = U16(p + 20);
    if (i == instrumentCount) break;
    InstrumentHeader header;
    header.name = FixedString(p, 20);
    font->instruments.push_back(std::move(header));
  }
  // The terminal sample record ("EOS") is optional in practice.
  size_t sampleCount = shdr->size / 46;
  if (sampleCount > 0 && FixedString(shdr->data + 46 * (sampleCount - 1), 20) == "EOS")
    sampleCount -= 1;
  for (size_t i = 0; i < sampleCount; ++i) {
    const uint8_t* p = shdr->data + 46 * i;
    SampleHeader header;
    header.name = FixedString(p, 20);
    header.start = U32(p + 20);
    header.end = U32(p + 24);
    header.startLoop = U32(p + 28);
    header.endLoop = U32(p + 32);
    header.sampleRate = U32(p + 36);
    header.originalPitch = p[40];
    header.pitchCorrection = static_cast<int8_t>(p[41]);
    header.sampleLink = U16(p + 42);
    header.sampleType = U16(p + 44);
    if ((header.sampleType & kOggVorbis) != 0) font->compressed = true;
    font->samples.push_back(std::move(header));
  }
  if (!ReadZones(pdta, "pbag", "pmod", "pgen", presetBags, &font->presets, error)) return false;
  if (!ReadZones(pdta, "ibag", "imod", "igen", instrumentBags, &font->instruments, error))
    return false;
  if (font->sampleDataSize == 0 && !font->samples.empty())
    return Fail(error, truncated ? "the file is truncated" : "the font has no sample data");
  return true;
}

}  // namespace sf2
