#include "tools/import/SoundFontImport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/import/KeyAssignment.h"
#include "tools/import/SoundFileDecoder.h"
#include "tools/import/ZoneResolver.h"

using namespace sf2;

namespace {

double Seconds(int32_t timecents) { return std::exp2(timecents / 1200.0); }

// Decodes a sample header's frames once; null when they cannot be had, with
// *why set.
std::shared_ptr<const SourceAudio> Decode(const SoundFont& font, const uint8_t* data, size_t index,
                                          std::vector<std::shared_ptr<const SourceAudio>>* cache,
                                          std::string* why) {
  if (cache->size() < font.samples.size()) cache->resize(font.samples.size());
  if ((*cache)[index]) return (*cache)[index];
  const SampleHeader& header = font.samples[index];
  auto audio = std::make_shared<SourceAudio>();
  audio->name = header.name;
  audio->rate = header.sampleRate;
  if ((header.sampleType & kRomSample) != 0) {
    *why = "it uses ROM sample '" + header.name + "', which a file does not hold";
    return nullptr;
  }
  if (header.sampleRate < 400 || header.sampleRate > 384000) {
    *why = "sample '" + header.name + "' has the rate " + std::to_string(header.sampleRate);
    return nullptr;
  }
  const uint8_t* smpl = data + font.sampleDataOffset;
  if ((header.sampleType & kOggVorbis) != 0) {
    if (header.end <= header.start || header.end > font.sampleDataSize) {
      *why = "sample '" + header.name + "' lies outside the sample data";
      return nullptr;
    }
    std::string error;
    if (!DecodeSoundBytes(smpl + header.start, header.end - header.start, audio.get(), &error)) {
      *why = "sample '" + header.name + "' cannot be decoded (" + error + ")";
      return nullptr;
    }
    if (audio->channels != 1) {
      *why = "sample '" + header.name + "' is not mono";
      return nullptr;
    }
    audio->rate = header.sampleRate;
  } else {
    const size_t frames = font.sampleDataSize / 2;
    if (header.end <= header.start || header.end > frames) {
      *why = "sample '" + header.name + "' lies outside the sample data";
      return nullptr;
    }
    audio->frames.resize(header.end - header.start);
    const uint8_t* p = smpl + 2 * static_cast<size_t>(header.start);
    for (size_t i = 0; i < audio->frames.size(); ++i)
      audio->frames[i] =
          static_cast<float>(static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8))) / 32768.0f;
  }
  (*cache)[index] = audio;
  return audio;
}

// The zone's sample frames, loop, tuning, level and envelope, from its
// resolved generators. False with *why set when it cannot sound.
bool ZoneFrom(const SoundFont& font, const ResolvedZone& resolved,
              std::shared_ptr<const SourceAudio> audio, ImportZone* zone,
              std::vector<std::string>* notes, std::string* why) {
  const SampleHeader& header = font.samples[static_cast<size_t>(resolved.sample)];
  const int32_t* g = resolved.gen;
  const int64_t length = static_cast<int64_t>(audio->FrameCount());
  zone->audio[0] = audio;
  zone->name = header.name;
  zone->start =
      std::clamp<int64_t>(g[kStartAddrsOffset] + 32768ll * g[kStartAddrsCoarseOffset], 0, length);
  zone->end = std::clamp<int64_t>(length + g[kEndAddrsOffset] + 32768ll * g[kEndAddrsCoarseOffset],
                                  0, length);
  if (zone->end - zone->start < 1) {
    *why = "sample '" + header.name + "' has no frames left after the zone's offsets";
    return false;
  }
  // SF2 loops count from the start of the whole sample data, SF3 loops from
  // the sample's own start.
  const bool ogg = (header.sampleType & kOggVorbis) != 0;
  const int64_t loopStart = static_cast<int64_t>(header.startLoop) - (ogg ? 0 : header.start) +
                            g[kStartloopAddrsOffset] + 32768ll * g[kStartloopAddrsCoarseOffset];
  const int64_t loopEnd = static_cast<int64_t>(header.endLoop) - (ogg ? 0 : header.start) +
                          g[kEndloopAddrsOffset] + 32768ll * g[kEndloopAddrsCoarseOffset];
  const int mode = g[kSampleModes] & 3;
  if (mode == 1 || mode == 3) {
    zone->loopStart = loopStart - zone->start;
    zone->loopEnd = loopEnd - zone->start;
    if (zone->loopStart < 0 || zone->loopEnd <= zone->loopStart ||
        zone->loopEnd > zone->end - zone->start) {
      notes->push_back("the loop of '" + header.name + "' lies outside the sample: not looped");
    } else {
      zone->loop = mode == 1 ? LoopMode::kContinuous : LoopMode::kSustain;
    }
  }
  zone->rootKey = g[kOverridingRootKey] >= 0    ? g[kOverridingRootKey]
                  : header.originalPitch <= 127 ? header.originalPitch
                                                : 60;
  zone->centsPerKey = g[kScaleTuning];
  zone->tuneCents = g[kCoarseTune] * 100.0 + g[kFineTune] + header.pitchCorrection;
  zone->keyLo = resolved.keyLo;
  zone->keyHi = resolved.keyHi;
  // FluidSynth scales the initial attenuation by 0.4, as fonts made for the
  // original hardware expect.
  const double level = std::pow(10.0, -0.4 * g[kInitialAttenuation] / 200.0);
  zone->gain[0][0] = level * PanGain(g[kPan] / 500.0, true);
  zone->gain[1][0] = level * PanGain(g[kPan] / 500.0, false);
  EnvelopeSpec& e = zone->envelope;
  e.delay = g[kDelayVolEnv] <= -12000 ? 0.0 : Seconds(g[kDelayVolEnv]);
  e.attack = g[kAttackVolEnv] <= -12000 ? 0.0 : Seconds(g[kAttackVolEnv]);
  e.hold = g[kHoldVolEnv] <= -12000 ? 0.0 : Seconds(g[kHoldVolEnv]);
  // The fall covers 96 dB over the decay and release times, the sustain
  // level 96 dB at 1000 cB, as FluidSynth plays them.
  e.decayDbPerSecond = 96.0 / Seconds(g[kDecayVolEnv]);
  e.sustainDb = 96.0 * std::min(g[kSustainVolEnv], 1000) / 1000.0;
  e.releaseDbPerSecond = 96.0 / Seconds(std::max(g[kReleaseVolEnv], -7200));
  // The velocity-to-cutoff modulator moves the cutoff by a few cents at
  // most near 127. FluidSynth filters every voice, its cutoff at most 0.45
  // of its output rate: a resonance alone (the default cutoff) is heard
  // there too. The modulation envelope moves the cutoff as the note plays:
  // written into the frames ahead of the loop, which hears it where the
  // loop begins.
  const double heldCutoff =
      g[kInitialFilterFc] +
      g[kModEnvToFilterFc] * (1.0 - std::clamp(g[kSustainModEnv], 0, 1000) / 1000.0);
  const double peakCutoff = g[kInitialFilterFc] + std::max(0, g[kModEnvToFilterFc]);
  if (heldCutoff < 13500 || g[kInitialFilterFc] < 13500 || g[kInitialFilterQ] > 0) {
    zone->filterHz = std::min(8.176 * std::exp2(std::clamp(heldCutoff, 1500.0, 13500.0) / 1200.0),
                              0.45 * 44100.0);
    zone->filterQDb = std::clamp(g[kInitialFilterQ], 0, 960) / 10.0;
    if (g[kModEnvToFilterFc] != 0 && std::min(heldCutoff, peakCutoff) < 13500) {
      zone->filterCents = g[kInitialFilterFc];
      zone->filterEnvCents = g[kModEnvToFilterFc];
      ModEnvelopeSpec& m = zone->modEnvelope;
      m.delay = g[kDelayModEnv] <= -12000 ? 0.0 : Seconds(g[kDelayModEnv]);
      m.attack = g[kAttackModEnv] <= -12000 ? 0.0 : Seconds(g[kAttackModEnv]);
      m.hold = g[kHoldModEnv] <= -12000 ? 0.0 : Seconds(g[kHoldModEnv]);
      m.decay = g[kDecayModEnv] <= -12000 ? 0.0 : Seconds(g[kDecayModEnv]);
      m.sustain = 1.0 - std::clamp(g[kSustainModEnv], 0, 1000) / 1000.0;
      m.holdTimecentsPerKey = g[kKeynumToModEnvHold];
      m.decayTimecentsPerKey = g[kKeynumToModEnvDecay];
    }
  }
  e.holdTimecentsPerKey = g[kKeynumToVolEnvHold];
  e.decayTimecentsPerKey = g[kKeynumToVolEnvDecay];
  return true;
}

}  // namespace

bool BuildSoundFontInstrument(const SoundFont& font, const uint8_t* data, size_t presetIndex,
                              int velocity, ImportInstrument* instrument,
                              std::vector<std::shared_ptr<const SourceAudio>>* sampleCache,
                              std::string* /*error*/) {
  std::vector<std::string> dropped;
  const std::vector<ResolvedZone> zones = ResolvePreset(font, presetIndex, &dropped);
  for (const std::string& line : dropped) instrument->dropped.push_back(line);
  std::vector<ZoneCandidate> candidates;
  std::vector<bool> paired(zones.size(), false);
  for (size_t i = 0; i < zones.size(); ++i) {
    const ResolvedZone& z = zones[i];
    const SampleHeader& header = font.samples[static_cast<size_t>(z.sample)];
    char label[160];
    std::snprintf(label, sizeof label, "'%s' keys %d-%d velocities %d-%d", header.name.c_str(),
                  z.keyLo, z.keyHi, z.velLo, z.velHi);
    if (velocity < z.velLo || velocity > z.velHi) {
      instrument->dropped.push_back(std::string(label) + ": another velocity layer");
      continue;
    }
    if (paired[i]) continue;
    std::string why;
    auto audio = Decode(font, data, static_cast<size_t>(z.sample), sampleCache, &why);
    ZoneCandidate candidate;
    if (!audio || !ZoneFrom(font, z, audio, &candidate.zone, &instrument->approximations, &why)) {
      instrument->dropped.push_back(std::string(label) + ": " + why);
      continue;
    }
    candidate.label = label;
    candidate.level = std::pow(10.0, -z.gen[kInitialAttenuation] / 200.0);
    // A left or right sample whose partner plays the same keys and
    // velocities becomes one stereo zone; so do two mono samples of the same
    // keys panned to opposite sides, as fonts record a stereo pair without
    // linking it.
    for (size_t j = i + 1; j < zones.size(); ++j) {
      const ResolvedZone& o = zones[j];
      const bool linked =
          (header.sampleType & (kLeftSample | kRightSample)) != 0 && o.sample == header.sampleLink;
      const bool sides = z.gen[kPan] * o.gen[kPan] < 0 && std::abs(z.gen[kPan]) >= 250 &&
                         std::abs(o.gen[kPan]) >= 250;
      if (paired[j] || !(linked || sides) || o.keyLo != z.keyLo || o.keyHi != z.keyHi ||
          o.velLo != z.velLo || o.velHi != z.velHi)
        continue;
      auto other = Decode(font, data, static_cast<size_t>(o.sample), sampleCache, &why);
      ImportZone partner;
      if (!other || !ZoneFrom(font, o, other, &partner, &instrument->approximations, &why)) break;
      paired[j] = true;
      const bool thisLeft = linked ? (header.sampleType & kLeftSample) != 0 : z.gen[kPan] < 0;
      ImportZone left = candidate.zone;
      ImportZone right = partner;
      if (!thisLeft) std::swap(left, right);
      const int64_t frames = left.end - left.start;
      const bool sameShape =
          frames == right.end - right.start && left.loop == right.loop &&
          left.loopStart == right.loopStart && left.loopEnd == right.loopEnd &&
          left.start == right.start &&
          right.start + frames <= static_cast<int64_t>(right.audio[0]->FrameCount());
      // Sides cut or looped apart keep their own frames, if both loop or
      // neither does.
      const bool apart =
          !sameShape && (left.loop == LoopMode::kNone) == (right.loop == LoopMode::kNone);
      if (sameShape || apart) {
        ImportZone stereo = left;
        stereo.sources = 2;
        stereo.audio[1] = right.audio[0];
        stereo.channel[1] = right.channel[0];
        stereo.gain[0][1] = right.gain[0][0];
        stereo.gain[1][1] = right.gain[1][0];
        if (apart) {
          stereo.secondApart = true;
          stereo.second = {right.start, right.end, right.loopStart, right.loopEnd};
          instrument->approximations.push_back("'" + right.name + "' is looped as '" + left.name +
                                               "' is, fading across its own loop's seam");
        }
        candidate.zone = stereo;
      } else {
        // The two sides cannot share one file's loop: the left side plays
        // on both, as loud on each as each side was.
        const double side = std::max(left.gain[0][0], left.gain[1][0]);
        left.gain[0][0] = side;
        left.gain[1][0] = side;
        candidate.zone = left;
        instrument->approximations.push_back("'" + left.name + "' plays on both sides: '" +
                                             right.name + "' has another length or loop");
      }
      break;
    }
    candidates.push_back(std::move(candidate));
  }
  AssignKeys(candidates, instrument);
  return true;
}

bool ImportSoundFont(const uint8_t* data, size_t size, const ImportOptions& options,
                     std::vector<ImportInstrument>* instruments, std::string* fontName,
                     std::string* error, const ImportProgress& progress) {
  SoundFont font;
  if (!ReadSoundFont(data, size, &font, error)) return false;
  *fontName = font.name;
  std::vector<size_t> chosen;
  int drumsAt = -1;
  for (size_t p = 0; p < font.presets.size(); ++p) {
    const PresetHeader& preset = font.presets[p];
    if (preset.bank == options.bank && preset.preset <= 127) {
      bool taken = false;
      for (size_t q : chosen) taken = taken || font.presets[q].preset == preset.preset;
      if (!taken) chosen.push_back(p);
    }
    if (options.drums >= 0 && preset.bank == 128 && preset.preset == options.drums && drumsAt < 0)
      drumsAt = static_cast<int>(p);
  }
  std::sort(chosen.begin(), chosen.end(),
            [&](size_t a, size_t b) { return font.presets[a].preset < font.presets[b].preset; });
  if (chosen.empty() && drumsAt < 0) {
    *error = "the font has no preset in bank " + std::to_string(options.bank);
    return false;
  }
  if (drumsAt >= 0) chosen.push_back(static_cast<size_t>(drumsAt));
  std::vector<std::shared_ptr<const SourceAudio>> cache;
  for (size_t i = 0; i < chosen.size(); ++i) {
    const PresetHeader& preset = font.presets[chosen[i]];
    ImportInstrument instrument;
    instrument.id = preset.preset;
    instrument.name = preset.name;
    if (static_cast<int>(chosen[i]) == drumsAt) instrument.channel = 10;
    if (!BuildSoundFontInstrument(font, data, chosen[i], options.velocity, &instrument, &cache,
                                  error))
      return false;
    instruments->push_back(std::move(instrument));
    if (progress) progress(i + 1, chosen.size());
  }
  return true;
}
