#include "tools/import/SfzImport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "tools/import/KeyAssignment.h"
#include "tools/import/SfzParser.h"
#include "tools/import/SoundFileDecoder.h"

namespace fs = std::filesystem;

namespace {

// The opcodes the import reads; every other one is named once.
const std::set<std::string>& KnownOpcodes() {
  static const std::set<std::string> known = {"sample",
                                              "key",
                                              "lokey",
                                              "hikey",
                                              "pitch_keycenter",
                                              "lovel",
                                              "hivel",
                                              "tune",
                                              "transpose",
                                              "volume",
                                              "pan",
                                              "amplitude",
                                              "offset",
                                              "end",
                                              "loop_mode",
                                              "loopmode",
                                              "loop_start",
                                              "loopstart",
                                              "loop_end",
                                              "loopend",
                                              "ampeg_delay",
                                              "ampeg_attack",
                                              "ampeg_hold",
                                              "ampeg_decay",
                                              "ampeg_sustain",
                                              "ampeg_release",
                                              "pitch_keytrack",
                                              "default_path"};
  return known;
}

double Number(const std::map<std::string, std::string>& opcodes, const char* key, double fallback) {
  auto found = opcodes.find(key);
  if (found == opcodes.end()) return fallback;
  char* end = nullptr;
  const double value = std::strtod(found->second.c_str(), &end);
  return end != found->second.c_str() && std::isfinite(value) ? value : fallback;
}

std::string Text(const std::map<std::string, std::string>& opcodes, const char* key,
                 const char* alias = nullptr) {
  auto found = opcodes.find(key);
  if (found == opcodes.end() && alias) found = opcodes.find(alias);
  return found == opcodes.end() ? std::string() : found->second;
}

// A whole number within [lo, hi]: a value out of range (or not finite) is
// clamped before it is converted.
int64_t Whole(const std::map<std::string, std::string>& opcodes, const char* key, double fallback,
              double lo, double hi) {
  return static_cast<int64_t>(std::clamp(Number(opcodes, key, fallback), lo, hi));
}

int Key(const std::map<std::string, std::string>& opcodes, const char* key, int fallback) {
  auto found = opcodes.find(key);
  if (found == opcodes.end()) return fallback;
  const int value = SfzKey(found->second);
  return value < 0 ? fallback : value;
}

bool ReadText(const fs::path& path, std::string* text) {
  std::error_code code;
  if (!fs::is_regular_file(path, code)) return false;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return static_cast<bool>(in) || in.eof();
}

}  // namespace

bool LooksLikeSfz(const uint8_t* data, size_t size) {
  const size_t probe = std::min<size_t>(size, 65536);
  for (size_t i = 0; i < probe; ++i)
    if (data[i] == 0) return false;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* mark : {"<region>", "<group>", "<global>", "<control>", "<master>", "#include"})
    if (text.find(mark) != std::string::npos) return true;
  return false;
}

bool ImportSfz(const uint8_t* data, size_t size, const ImportOptions& options,
               std::vector<ImportInstrument>* instruments, std::vector<std::string>* notes,
               std::string* error) {
  const fs::path folder = fs::path(options.source).parent_path();
  SfzKit kit;
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto include = [&](const std::string& name, std::string* out) {
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    return ReadText(folder / path, out);
  };
  if (!ParseSfz(text, include, &kit, error)) return false;
  if (kit.regions.empty()) {
    *error = "the kit has no <region>";
    return false;
  }
  ImportInstrument instrument;
  instrument.id = 0;
  instrument.name = fs::path(options.source).stem().string();
  std::set<std::string> unknown;
  std::map<std::string, std::shared_ptr<SourceAudio>> files;
  std::map<std::string, FileLoop> fileLoops;
  std::vector<ZoneCandidate> candidates;
  for (const std::string& header : kit.otherHeaders) unknown.insert(header);
  for (const SfzRegion& region : kit.regions) {
    const auto& op = region.opcodes;
    for (const auto& entry : op)
      if (!KnownOpcodes().count(entry.first)) unknown.insert(entry.first);
    std::string sample = Text(op, "sample");
    if (sample.empty()) continue;
    std::string relative = region.defaultPath + sample;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::string path = (folder / relative).string();
    int lokey = Key(op, "lokey", 0);
    int hikey = Key(op, "hikey", 127);
    int root = Key(op, "pitch_keycenter", 60);
    if (op.count("key")) {
      const int key = Key(op, "key", -1);
      if (key >= 0) {
        lokey = op.count("lokey") ? lokey : key;
        hikey = op.count("hikey") ? hikey : key;
        root = op.count("pitch_keycenter") ? root : key;
      }
    }
    const int lovel = static_cast<int>(Whole(op, "lovel", 1, 0, 127));
    const int hivel = static_cast<int>(Whole(op, "hivel", 127, 0, 127));
    char label[300];
    std::snprintf(label, sizeof label, "'%s' keys %d-%d velocities %d-%d", sample.c_str(), lokey,
                  hikey, lovel, hivel);
    if (options.velocity < lovel || options.velocity > hivel) {
      instrument.dropped.push_back(std::string(label) + ": another velocity layer");
      continue;
    }
    if (lokey > hikey) continue;
    auto& audio = files[path];
    if (!audio) {
      audio = std::make_shared<SourceAudio>();
      audio->name = fs::path(relative).stem().string();
      std::string why;
      if (!DecodeSoundFile(path, audio.get(), &fileLoops[path], &why)) {
        *error = "cannot read the sample '" + relative + "': " + why;
        return false;
      }
    }
    const FileLoop& fileLoop = fileLoops[path];
    ZoneCandidate candidate;
    candidate.label = label;
    ImportZone& zone = candidate.zone;
    zone.name = audio->name;
    zone.audio[0] = audio;
    if (audio->channels == 2) {
      zone.sources = 2;
      zone.audio[1] = audio;
      zone.channel[1] = 1;
    }
    const int64_t frames = static_cast<int64_t>(audio->FrameCount());
    const double last = static_cast<double>(frames);
    zone.start = Whole(op, "offset", 0, 0, last);
    zone.end = op.count("end") ? Whole(op, "end", 0, -1, last - 1) + 1 : frames;
    if (zone.end - zone.start < 1) {
      instrument.dropped.push_back(std::string(label) + ": no frames between offset and end");
      continue;
    }
    std::string mode = Text(op, "loop_mode", "loopmode");
    const bool hasLoopOpcodes = op.count("loop_start") || op.count("loopstart") ||
                                op.count("loop_end") || op.count("loopend");
    if (mode.empty()) mode = fileLoop.present ? "loop_continuous" : "no_loop";
    if (mode == "loop_continuous" || mode == "loop_sustain") {
      const int64_t loopStart =
          Whole(op, op.count("loop_start") ? "loop_start" : "loopstart",
                static_cast<double>(fileLoop.present ? fileLoop.start : 0), -1, last);
      const int64_t loopEnd = hasLoopOpcodes || !fileLoop.present
                                  ? Whole(op, op.count("loop_end") ? "loop_end" : "loopend",
                                          static_cast<double>(zone.end - 1), -1, last) +
                                        1
                                  : fileLoop.end;
      zone.loopStart = loopStart - zone.start;
      zone.loopEnd = loopEnd - zone.start;
      if (zone.loopStart >= 0 && zone.loopEnd > zone.loopStart &&
          zone.loopEnd <= zone.end - zone.start)
        zone.loop = mode == "loop_sustain" ? LoopMode::kSustain : LoopMode::kContinuous;
      else
        instrument.approximations.push_back("the loop of '" + sample +
                                            "' lies outside the sample: not looped");
    } else if (mode == "one_shot") {
      instrument.approximations.push_back("'" + sample +
                                          "' is one_shot: it stops at the note's release fade");
    }
    zone.keyLo = lokey;
    zone.keyHi = hikey;
    zone.rootKey = root;
    zone.centsPerKey = std::clamp(Number(op, "pitch_keytrack", 100.0), -1200.0, 1200.0);
    zone.tuneCents = std::clamp(Number(op, "tune", 0.0), -9600.0, 9600.0) +
                     100.0 * std::clamp(Number(op, "transpose", 0.0), -127.0, 127.0);
    const double level = std::clamp(Number(op, "amplitude", 100.0), 0.0, 100.0) / 100.0 *
                         std::pow(10.0, std::clamp(Number(op, "volume", 0.0), -144.0, 6.0) / 20.0);
    const double pan = std::clamp(Number(op, "pan", 0.0), -100.0, 100.0) / 100.0;
    candidate.level = level;
    if (zone.sources == 1) {
      zone.gain[0][0] = level * PanGain(pan, true);
      zone.gain[1][0] = level * PanGain(pan, false);
    } else {
      // A stereo file keeps its sides; pan turns the balance.
      zone.gain[0][0] = level * std::min(1.0, 1.0 - pan);
      zone.gain[1][1] = level * std::min(1.0, 1.0 + pan);
      zone.gain[0][1] = 0.0;
      zone.gain[1][0] = 0.0;
    }
    EnvelopeSpec& e = zone.envelope;
    e.delay = std::clamp(Number(op, "ampeg_delay", 0.0), 0.0, 100.0);
    e.attack = std::clamp(Number(op, "ampeg_attack", 0.0), 0.0, 100.0);
    e.hold = std::clamp(Number(op, "ampeg_hold", 0.0), 0.0, 100.0);
    const double sustain = std::clamp(Number(op, "ampeg_sustain", 100.0), 0.0, 100.0);
    e.sustainDb = sustain <= 0.0 ? 96.0 : std::min(96.0, -20.0 * std::log10(sustain / 100.0));
    // Decay and release run over the whole 96 dB, as in a SoundFont.
    const double decay = std::clamp(Number(op, "ampeg_decay", 0.0), 0.0, 100.0);
    e.decayDbPerSecond = decay > 0.0 ? 96.0 / decay : 0.0;
    const double release = std::clamp(Number(op, "ampeg_release", 0.001), 0.001, 100.0);
    e.releaseDbPerSecond = 96.0 / release;
    candidates.push_back(std::move(candidate));
  }
  AssignKeys(candidates, &instrument);
  for (const std::string& name : unknown) notes->push_back("not read: " + name);
  if (instrument.zones.empty()) {
    *error = "no region of the kit sounds at velocity " + std::to_string(options.velocity) +
             (instrument.dropped.empty() ? "" : " (" + instrument.dropped.front() + ")");
    return false;
  }
  instruments->push_back(std::move(instrument));
  return true;
}
