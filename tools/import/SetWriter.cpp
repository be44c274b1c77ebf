#include "tools/import/SetWriter.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "tools/import/SampleWavWriter.h"
#include "tools/import/ZoneRenderer.h"

namespace {

std::string FileName(size_t number, const std::string& name) {
  std::string clean;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u))
      clean += static_cast<char>(std::tolower(u));
    else if (!clean.empty() && clean.back() != '-')
      clean += '-';
  }
  while (!clean.empty() && clean.back() == '-') clean.pop_back();
  if (clean.size() > 40) clean.resize(40);
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%04zu", number);
  return std::string(prefix) + (clean.empty() ? "" : "-" + clean) + ".wav";
}

// Everything the bytes of a zone's file depend on.
std::string Identity(const ImportZone& zone, int keyLo, int keyHi, double maxSeconds) {
  char text[1024];
  const EnvelopeSpec& e = zone.envelope;
  const ModEnvelopeSpec& m = zone.modEnvelope;
  std::snprintf(
      text, sizeof text,
      "%p %p %d %d %d %.17g %.17g %.17g %.17g %lld %lld %lld %lld %d %d %d %d %.17g "
      "%.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g "
      "%d %lld %lld %lld %lld %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g",
      static_cast<const void*>(zone.audio[0].get()), static_cast<const void*>(zone.audio[1].get()),
      zone.channel[0], zone.channel[1], zone.sources, zone.gain[0][0], zone.gain[0][1],
      zone.gain[1][0], zone.gain[1][1], static_cast<long long>(zone.start),
      static_cast<long long>(zone.end), static_cast<long long>(zone.loopStart),
      static_cast<long long>(zone.loopEnd), static_cast<int>(zone.loop), keyLo, keyHi, zone.rootKey,
      zone.centsPerKey, zone.tuneCents, e.delay, e.attack, e.hold, e.decayDbPerSecond, e.sustainDb,
      e.releaseDbPerSecond, e.holdTimecentsPerKey, e.decayTimecentsPerKey, maxSeconds,
      zone.filterHz, zone.filterQDb, zone.secondApart ? 1 : 0,
      static_cast<long long>(zone.second.start), static_cast<long long>(zone.second.end),
      static_cast<long long>(zone.second.loopStart), static_cast<long long>(zone.second.loopEnd),
      zone.filterCents, zone.filterEnvCents, m.delay, m.attack, m.hold, m.decay, m.sustain,
      m.holdTimecentsPerKey, m.decayTimecentsPerKey);
  return text;
}

// True when the WAV file this writer wrote (a 44-byte header, then the
// data) holds exactly these values.
bool HoldsValues(const std::string& path, const std::vector<int16_t>& frames) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::vector<uint8_t> bytes(2 * frames.size() + 1);
  const bool whole = std::fseek(file, 44, SEEK_SET) == 0 &&
                     std::fread(bytes.data(), 1, bytes.size(), file) == 2 * frames.size();
  std::fclose(file);
  if (!whole) return false;
  for (size_t i = 0; i < frames.size(); ++i) {
    const uint16_t value = static_cast<uint16_t>(frames[i]);
    if (bytes[2 * i] != (value & 0xFF) || bytes[2 * i + 1] != (value >> 8)) return false;
  }
  return true;
}

const char* ModeName(LoopMode mode) {
  return mode == LoopMode::kSustain ? "sustain" : "continuous";
}

}  // namespace

bool SetWriter::WriteZone(const ImportZone& zone, int keyLo, int keyHi, std::vector<Block>* blocks,
                          std::string* error) {
  const std::string identity = Identity(zone, keyLo, keyHi, maxSeconds_);
  if (auto found = shared_.find(identity); found != shared_.end()) {
    blocks->push_back(found->second);
    return true;
  }
  if (keyHi > keyLo && !RangeFits(zone, keyLo, keyHi)) {
    // One file cannot serve the whole range: the longest range from its
    // lowest key that one file does serve gets a file, and the rest goes on
    // from there. A range inside one that fits fits too.
    int lo = keyLo, hi = keyHi - 1;  // keyLo alone always fits
    while (lo < hi) {
      const int middle = (lo + hi + 1) / 2;
      if (RangeFits(zone, keyLo, middle))
        lo = middle;
      else
        hi = middle - 1;
    }
    return WriteZone(zone, keyLo, lo, blocks, error) &&
           WriteZone(zone, lo + 1, keyHi, blocks, error);
  }
  RenderedSample sample;
  RenderZone(zone, keyLo, keyHi, maxSeconds_, &sample);
  Block block;
  // Zones that come out the same to the last value (the same sound on other
  // keys, or under another preset with other settings that cancel out) name
  // one file, which the engine then loads once.
  const std::string_view values(reinterpret_cast<const char*>(sample.frames.data()),
                                sample.frames.size() * sizeof(int16_t));
  const Content content{std::hash<std::string_view>()(values), sample.frames.size(),
                        sample.channels, sample.rate};
  auto [same, last] = files_.equal_range(content);
  for (; same != last; ++same) {
    if (HoldsValues(folder_ + "/" + same->second, sample.frames)) break;
  }
  if (same != last) {
    block.file = same->second;
  } else {
    block.file = FileName(totals_.files + 1, zone.name);
    std::string why;
    if (!WriteSampleWav(folder_ + "/" + block.file, sample.frames, sample.channels, sample.rate,
                        &why)) {
      *error = "cannot write '" + block.file + "': " + why;
      return false;
    }
    totals_.files += 1;
    totals_.bytes += 44 + 2 * sample.frames.size();
    files_.emplace(content, block.file);
  }
  totals_.clipped += sample.clipped;
  char text[512];
  std::snprintf(text, sizeof text,
                "        file %s\n        base %d\n        begin %d\n        end %d\n",
                block.file.c_str(), sample.base, keyLo, keyHi);
  block.text = text;
  if (sample.loop != LoopMode::kNone) {
    std::snprintf(text, sizeof text, "        loop %lld %lld %s\n",
                  static_cast<long long>(sample.loopStart), static_cast<long long>(sample.loopEnd),
                  ModeName(sample.loop));
    block.text += text;
  }
  std::snprintf(text, sizeof text, "        release %d\n        pitch exact\n", sample.releaseMs);
  block.text += text;
  if (sample.levelDb < 0.0) {
    std::snprintf(text, sizeof text, "        level %.3f\n", sample.levelDb);
    block.text += text;
  }
  if (sample.decayStartMs >= 0.0) {
    std::snprintf(text, sizeof text, "        decay %.3f %.3f %.3f\n", sample.decayStartMs,
                  sample.decayDbPerSecond, sample.sustainDb);
    block.text += text;
  }
  const size_t frames = sample.frames.size() / static_cast<size_t>(sample.channels);
  std::snprintf(text, sizeof text,
                "keys %d-%d '%s' -> %s: %s, %d Hz, base %d, %.2f s%s, release %d ms", keyLo, keyHi,
                zone.name.c_str(), block.file.c_str(), sample.channels == 2 ? "stereo" : "mono",
                sample.rate, sample.base, static_cast<double>(frames) / sample.rate,
                sample.loop == LoopMode::kNone      ? ""
                : sample.loop == LoopMode::kSustain ? ", loop sustain"
                                                    : ", loop continuous",
                sample.releaseMs);
  block.line = text;
  for (const std::string& note : sample.notes)
    block.notes.push_back("'" + zone.name + "': " + note);
  if (sample.clipped > 0)
    block.notes.push_back("'" + zone.name + "': " + std::to_string(sample.clipped) +
                          " values clipped to 16 bits");
  shared_.emplace(identity, block);
  blocks->push_back(block);
  return true;
}

bool SetWriter::Add(const ImportInstrument& instrument, std::string* error) {
  WrittenInstrument written;
  char header[256];
  if (instrument.channel > 0)
    std::snprintf(header, sizeof header, "Channel %d '%s'", instrument.channel,
                  instrument.name.c_str());
  else
    std::snprintf(header, sizeof header, "Instrument %d '%s'", instrument.id,
                  instrument.name.c_str());
  written.header = header;
  written.dropped = instrument.dropped;
  written.approximations = instrument.approximations;
  std::string text = "instrument\n{\n";
  if (instrument.channel > 0)
    text += "    channel " + std::to_string(instrument.channel) + "\n";
  else
    text += "    ID " + std::to_string(instrument.id) + "\n";
  text += "    name " + instrument.name + "\n";
  for (const ImportZone& zone : instrument.zones) {
    // One file for the zone's keys: keys read it faster or slower than its
    // middle key and so run through its envelope at another pace, which the
    // zones of a multi-sampled font keep small (a file for every few keys
    // would cost half as much memory again, measured on FluidR3_GM, for no
    // level difference against FluidSynth that its comparison could see).
    // A zone that does not follow the keyboard in semitones gets a file per
    // key, each at its own rate.
    std::vector<std::pair<int, int>> chunks;
    const bool keyed = zone.centsPerKey != 100.0;
    const int width = keyed ? 1 : 128;
    if (keyed && zone.keyHi - zone.keyLo >= 24) {
      chunks.emplace_back(zone.keyLo, zone.keyHi);
      written.approximations.push_back("'" + zone.name +
                                       "' does not follow the keyboard in semitones: its pitch is "
                                       "right on its middle key only");
    } else {
      for (int lo = zone.keyLo; lo <= zone.keyHi; lo += width)
        chunks.emplace_back(lo, std::min(zone.keyHi, lo + width - 1));
    }
    for (const auto& [lo, hi] : chunks) {
      std::vector<Block> blocks;
      if (!WriteZone(zone, lo, hi, &blocks, error)) return false;
      for (const Block& block : blocks) {
        text += "    sample\n    {\n" + block.text + "    }\n";
        written.kept.push_back(block.line);
        for (const std::string& note : block.notes) written.approximations.push_back(note);
      }
    }
  }
  text += "}\n";
  text_ += text;
  totals_.instruments += 1;
  totals_.dropped += written.dropped.size();
  totals_.blocks += written.kept.size();
  written_.push_back(std::move(written));
  return true;
}

bool SetWriter::Finish(const std::string& title, std::string* error) {
  const std::string path = folder_ + "/default.pvi";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    *error = "cannot write default.pvi";
    return false;
  }
  const std::string all = "PVID " + title + "\n" + text_;
  const bool ok = std::fwrite(all.data(), 1, all.size(), file) == all.size();
  if (std::fclose(file) != 0 || !ok) {
    *error = "cannot write default.pvi";
    return false;
  }
  return true;
}
