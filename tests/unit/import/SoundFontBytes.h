// Builds small SoundFont files in memory for the reader's tests: presets,
// instruments and samples as the tests describe them, written as the format
// lays them out (each header list ending with its terminal record).
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

class SoundFontBytes {
 public:
  using Generators = std::vector<std::pair<uint16_t, uint16_t>>;  // oper, amount
  struct Sample {
    std::string name;
    uint32_t start, end, startLoop, endLoop, rate;
    uint8_t pitch;
    int8_t correction;
    uint16_t link, type;
  };

  static uint16_t Range(int lo, int hi) { return static_cast<uint16_t>(lo | (hi << 8)); }
  static uint16_t Amount(int value) { return static_cast<uint16_t>(static_cast<int16_t>(value)); }

  // Zones of the last preset or instrument added.
  void Preset(const std::string& name, int preset, int bank) {
    presets_.push_back({name, preset, bank, presetZones_.size()});
  }
  void PresetZone(Generators generators) { presetZones_.push_back(std::move(generators)); }
  void Instrument(const std::string& name) { instruments_.push_back({name, instZones_.size()}); }
  void InstrumentZone(Generators generators) { instZones_.push_back(std::move(generators)); }
  void AddSample(const Sample& sample) { samples_.push_back(sample); }
  // The sample data: 16-bit frames, or any bytes (SF3's Ogg streams).
  void SetData(std::vector<uint8_t> data) { data_ = std::move(data); }
  void SetFrames(const std::vector<int16_t>& frames) {
    data_.clear();
    for (int16_t v : frames) Put16(&data_, static_cast<uint16_t>(v));
  }
  // An INAM of odd length written without the pad byte RIFF asks for.
  void SetName(const std::string& name, bool padded) {
    name_ = name;
    padded_ = padded;
  }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> info{'I', 'N', 'F', 'O'};
    Chunk(&info, "ifil", {2, 0, 1, 0});
    std::vector<uint8_t> nameBytes(name_.begin(), name_.end());
    Chunk(&info, "INAM", nameBytes, padded_);
    std::vector<uint8_t> sdta{'s', 'd', 't', 'a'};
    Chunk(&sdta, "smpl", data_);
    std::vector<uint8_t> pdta{'p', 'd', 't', 'a'};
    std::vector<uint8_t> phdr, pbag, pgen, inst, ibag, igen, shdr;
    size_t gen = 0;
    for (size_t i = 0; i <= presets_.size(); ++i) {
      const P& p = i < presets_.size() ? presets_[i] : P{"EOP", 0, 0, presetZones_.size()};
      Name(&phdr, p.name);
      Put16(&phdr, static_cast<uint16_t>(p.preset));
      Put16(&phdr, static_cast<uint16_t>(p.bank));
      Put16(&phdr, static_cast<uint16_t>(p.firstZone));
      Put32(&phdr, 0);
      Put32(&phdr, 0);
      Put32(&phdr, 0);
    }
    for (const Generators& zone : presetZones_) {
      Put16(&pbag, static_cast<uint16_t>(gen));
      Put16(&pbag, 0);
      for (const auto& [oper, amount] : zone) {
        Put16(&pgen, oper);
        Put16(&pgen, amount);
        gen += 1;
      }
    }
    Put16(&pbag, static_cast<uint16_t>(gen));
    Put16(&pbag, 0);
    Put32(&pgen, 0);
    gen = 0;
    for (size_t i = 0; i <= instruments_.size(); ++i) {
      const I& n = i < instruments_.size() ? instruments_[i] : I{"EOI", instZones_.size()};
      Name(&inst, n.name);
      Put16(&inst, static_cast<uint16_t>(n.firstZone));
    }
    for (const Generators& zone : instZones_) {
      Put16(&ibag, static_cast<uint16_t>(gen));
      Put16(&ibag, 0);
      for (const auto& [oper, amount] : zone) {
        Put16(&igen, oper);
        Put16(&igen, amount);
        gen += 1;
      }
    }
    Put16(&ibag, static_cast<uint16_t>(gen));
    Put16(&ibag, 0);
    Put32(&igen, 0);
    for (size_t i = 0; i <= samples_.size(); ++i) {
      const Sample s = i < samples_.size() ? samples_[i] : Sample{"EOS", 0, 0, 0, 0, 0, 0, 0, 0, 0};
      Name(&shdr, s.name);
      Put32(&shdr, s.start);
      Put32(&shdr, s.end);
      Put32(&shdr, s.startLoop);
      Put32(&shdr, s.endLoop);
      Put32(&shdr, s.rate);
      shdr.push_back(s.pitch);
      shdr.push_back(static_cast<uint8_t>(s.correction));
      Put16(&shdr, s.link);
      Put16(&shdr, s.type);
    }
    Chunk(&pdta, "phdr", phdr);
    Chunk(&pdta, "pbag", pbag);
    Chunk(&pdta, "pmod", std::vector<uint8_t>(10, 0));
    Chunk(&pdta, "pgen", pgen);
    Chunk(&pdta, "inst", inst);
    Chunk(&pdta, "ibag", ibag);
    Chunk(&pdta, "imod", std::vector<uint8_t>(10, 0));
    Chunk(&pdta, "igen", igen);
    Chunk(&pdta, "shdr", shdr);
    std::vector<uint8_t> body{'s', 'f', 'b', 'k'};
    Chunk(&body, "LIST", info, padded_);
    Chunk(&body, "LIST", sdta);
    Chunk(&body, "LIST", pdta);
    std::vector<uint8_t> file;
    Chunk(&file, "RIFF", body);
    return file;
  }

 private:
  struct P {
    std::string name;
    int preset, bank;
    size_t firstZone;
  };
  struct I {
    std::string name;
    size_t firstZone;
  };
  static void Put16(std::vector<uint8_t>* out, uint16_t v) {
    out->push_back(static_cast<uint8_t>(v & 0xFF));
    out->push_back(static_cast<uint8_t>(v >> 8));
  }
  static void Put32(std::vector<uint8_t>* out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
  }
  static void Name(std::vector<uint8_t>* out, const std::string& name) {
    char field[20] = {};
    std::memcpy(field, name.data(), name.size() < 20 ? name.size() : 20);
    out->insert(out->end(), field, field + 20);
  }
  static void Chunk(std::vector<uint8_t>* out, const char* id, const std::vector<uint8_t>& data,
                    bool pad = true) {
    out->insert(out->end(), id, id + 4);
    Put32(out, static_cast<uint32_t>(data.size()));
    out->insert(out->end(), data.begin(), data.end());
    if (pad && (data.size() & 1) != 0) out->push_back(0);
  }

  std::string name_ = "Test";
  bool padded_ = true;
  std::vector<P> presets_;
  std::vector<I> instruments_;
  std::vector<Generators> presetZones_;
  std::vector<Generators> instZones_;
  std::vector<Sample> samples_;
  std::vector<uint8_t> data_;
};
