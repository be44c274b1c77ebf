#include "tools/import/ZoneRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/import/VolumeEnvelope.h"

namespace {

double FramesPerSecond(const ImportZone& zone, int key) {
  return zone.audio[0]->rate *
         std::exp2(((key - zone.rootKey) * zone.centsPerKey + zone.tuneCents) / 1200.0);
}

// Frames over which a second side apart fades across the file's loop seam:
// 100 ms, at most half the loop.
int64_t SeamFade(int64_t loopLength, double fps) {
  return std::min(loopLength / 2, static_cast<int64_t>(0.1 * fps));
}

}  // namespace

void TuningFor(const ImportZone& zone, int key, int* base, double* idealRate) {
  if (zone.centsPerKey == 100.0) {
    *base = std::clamp(zone.rootKey, 0, 127);
    *idealRate = FramesPerSecond(zone, *base);
  } else {
    *base = key;
    *idealRate = FramesPerSecond(zone, key);
  }
}

bool RangeFits(const ImportZone& zone, int keyLo, int keyHi) {
  // A low-pass filter is written as heard on the file's middle key: on a
  // key k semitones away, its cutoff is heard k semitones off. Where the
  // cutoff falls below 4 kHz, a file spans at most five keys, so that no
  // key hears it more than two semitones off.
  if (zone.filterHz > 0.0 && keyHi - keyLo >= 5) {
    double lowest = zone.filterHz;
    if (zone.filterEnvCents != 0.0) {
      const double cents =
          std::min({zone.filterCents, zone.filterCents + zone.filterEnvCents,
                    zone.filterCents + zone.filterEnvCents * zone.modEnvelope.sustain});
      lowest = 8.176 * std::exp2(std::clamp(cents, 1500.0, 13500.0) / 1200.0);
    }
    if (lowest < 4000.0) return false;
  }
  return true;
}

void RenderZone(const ImportZone& zone, int keyLo, int keyHi, double maxSeconds,
                RenderedSample* out) {
  *out = RenderedSample();
  out->keyLo = keyLo;
  out->keyHi = keyHi;
  const int key = (keyLo + keyHi + 1) / 2;
  double idealRate = 0.0;
  TuningFor(zone, key, &out->base, &idealRate);
  // The engine keeps the fraction of a frame (the set says 'pitch exact'):
  // the whole rate nearest plays every key in tune, within 0.2 cents from
  // 4000 frames a second up.
  out->rate = static_cast<int32_t>(std::clamp(std::round(idealRate), 1.0, 2147483647.0));

  const int64_t length = std::max<int64_t>(zone.end - zone.start, 1);
  const bool looped = zone.loop != LoopMode::kNone;
  const int64_t loopLength = looped ? zone.loopEnd - zone.loopStart : 0;
  char text[200];

  // The frames of the source in the order a held note reads them, with the
  // envelope's delay, attack and hold written in; the engine decays the
  // voice itself from the hold's end (the set's decay line).
  const double fps = FramesPerSecond(zone, key);
  const VolumeEnvelope envelope(zone.envelope, key);
  out->releaseMs = envelope.ReleaseMs();
  if (envelope.Decays()) {
    out->decayStartMs = envelope.HoldEnd() * 1000.0;
    out->decayDbPerSecond = envelope.DecayDbPerSecond();
    out->sustainDb = -std::min(zone.envelope.sustainDb, 200.0);
  }
  const double maxFrames = std::max(1.0, maxSeconds * fps);
  const double settleFrames = envelope.SettleTime() * fps;
  const ImportZone::Span& second = zone.second;
  const int64_t secondLength = zone.secondApart ? second.end - second.start : 0;
  int64_t frames = std::max(length, secondLength);
  int64_t newLoopStart = -1;
  int64_t tail = 0;
  if (!looped) {
    double bound = maxFrames;
    if (envelope.DecaysToSilence()) bound = std::min(bound, std::ceil(settleFrames));
    frames = std::min<int64_t>(frames, static_cast<int64_t>(std::max(1.0, bound)));
  } else {
    // The loop begins once the hold is over; where a cutoff follows the
    // modulation envelope (held from the loop's start on), once that has
    // settled too, or the volume has (as far as a held note hears the sweep).
    double target = envelope.HoldEnd();
    if (zone.filterEnvCents != 0.0)
      target = std::max(target, std::min(envelope.SettleTime(), zone.modEnvelope.End(key)));
    target *= fps;
    if (target > maxFrames) {
      std::snprintf(text, sizeof text,
                    "the envelope still moves after %.1f s; its level there is held", maxSeconds);
      out->notes.push_back(text);
      target = maxFrames;
    }
    // A second side apart repeats only frames of its own loop: the file's
    // loop begins past that loop's start by the fade at the seam.
    if (zone.secondApart)
      target = std::max(target, static_cast<double>(second.loopStart + SeamFade(loopLength, fps)));
    int64_t periods = 0;
    if (target > static_cast<double>(zone.loopStart))
      periods = static_cast<int64_t>(std::ceil((target - static_cast<double>(zone.loopStart)) /
                                               static_cast<double>(loopLength)));
    newLoopStart = zone.loopStart + periods * loopLength;
    if (zone.loop == LoopMode::kSustain) tail = length - zone.loopEnd;
    frames = newLoopStart + loopLength + tail;
  }
  auto sourceIndex = [&](int64_t i) -> int64_t {
    if (!looped || i < zone.loopEnd) return i < length ? i : -1;
    if (newLoopStart >= 0 && i >= newLoopStart + loopLength) {
      const int64_t t = zone.loopEnd + (i - newLoopStart - loopLength);
      if (tail > 0) return t < length ? t : -1;
    }
    return zone.loopStart + (i - zone.loopStart) % loopLength;
  };
  // The second side apart: a held note reads its own loop; past the file's
  // loop (a sustain loop's tail) it plays on from its own loop's end.
  const int64_t secondLoop = second.loopEnd - second.loopStart;
  auto secondIndex = [&](int64_t i) -> int64_t {
    if (newLoopStart >= 0 && tail > 0 && i >= newLoopStart + loopLength) {
      const int64_t t = second.loopEnd + (i - newLoopStart - loopLength);
      return t < secondLength ? t : -1;
    }
    if (!looped || secondLoop <= 0 || i < second.loopEnd) return i < secondLength ? i : -1;
    return second.loopStart + (i - second.loopStart) % secondLoop;
  };
  // Over the last `fade` frames of the file's loop the second side moves
  // across (equal power: its two stretches are unrelated) to the frames
  // one loop earlier, so that the repeat continues it without a jump.
  const int64_t seam = newLoopStart >= 0 ? newLoopStart + loopLength : -1;
  const int64_t fade = seam >= 0 ? std::min(SeamFade(loopLength, fps), newLoopStart) : 0;
  auto sourceValue = [&](int s, int64_t i) -> double {
    const SourceAudio& audio = *zone.audio[static_cast<size_t>(s)];
    if (s == 0 || !zone.secondApart) {
      const int64_t at = sourceIndex(i);
      return at < 0 ? 0.0 : audio.At(static_cast<size_t>(zone.start + at), zone.channel[s]);
    }
    auto read = [&](int64_t j) {
      const int64_t at = secondIndex(j);
      return at < 0 ? 0.0 : audio.At(static_cast<size_t>(second.start + at), zone.channel[s]);
    };
    if (fade <= 0 || i < seam - fade || i >= seam) return read(i);
    const double w = static_cast<double>(i - (seam - fade) + 1) / static_cast<double>(fade);
    return std::sqrt(1.0 - w) * read(i) + std::sqrt(w) * read(i - loopLength);
  };
  // The zone's level is the set's level line, the file holding the sound at
  // full level (so that presets which differ by a level share one file).
  double gain[2][2] = {{zone.gain[0][0], zone.gain[0][1]}, {zone.gain[1][0], zone.gain[1][1]}};
  double peak = 0.0;  // the loudest side's gains, summed over the sources it mixes
  for (int c = 0; c < 2; ++c) {
    double side = 0.0;
    for (int s = 0; s < zone.sources; ++s) side += std::fabs(gain[c][s]);
    peak = std::max(peak, side);
  }
  if (peak > 0.0 && peak < 1.0) {
    out->levelDb = 20.0 * std::log10(peak);
    for (auto& side : gain)
      for (double& g : side) g /= peak;
  }
  // A centred pan gives equal gains but for the last bits of sin and cos.
  const bool mono = zone.sources == 1 && std::fabs(gain[0][0] - gain[1][0]) < 1e-9;
  const int channels = mono ? 1 : 2;
  out->channels = channels;
  const int64_t total = frames;
  std::vector<float> mixed(static_cast<size_t>(total * channels));
  const double heldAmplitude =
      newLoopStart >= 0 ? envelope.AttackAmplitude(static_cast<double>(newLoopStart) / fps) : 0.0;
  for (int64_t i = 0; i < total; ++i) {
    if (!zone.secondApart && sourceIndex(i) < 0) continue;
    const double amplitude = newLoopStart >= 0 && i >= newLoopStart
                                 ? heldAmplitude
                                 : envelope.AttackAmplitude(static_cast<double>(i) / fps);
    double value[2] = {0.0, 0.0};
    for (int s = 0; s < zone.sources; ++s) value[s] = sourceValue(s, i);
    for (int c = 0; c < channels; ++c) {
      double sum = 0.0;
      for (int s = 0; s < zone.sources; ++s) sum += gain[c][s] * value[s];
      mixed[static_cast<size_t>(i * channels + c)] = static_cast<float>(sum * amplitude);
    }
  }

  // The low-pass filter, as heard on the file's middle key: a cutoff of f Hz
  // there is f / fps of the file's own rate. Q as FluidSynth reads it (0 dB
  // is a Butterworth response), and its gain lowered by half the resonance's
  // height, as FluidSynth does (relative to a filter without resonance,
  // which every other zone is heard through there). A cutoff at or above
  // the source's Nyquist frequency leaves only that gain.
  // A cutoff that follows the modulation envelope is set anew every 32
  // frames, and held from the loop's start on (where the volume is too).
  if (zone.filterHz > 0.0) {
    const double q = std::pow(10.0, (zone.filterQDb - 3.01) / 20.0);
    const double lowered = std::pow(10.0, -zone.filterQDb / 40.0);
    double b0 = 0.0, b1 = 0.0, a1 = 0.0, a2 = 0.0;
    bool inBand = false;
    auto setCutoff = [&](double hz) {
      inBand = hz / fps < 0.49;
      const double w0 = 2.0 * M_PI * std::min(hz / fps, 0.49);
      const double alpha = std::sin(w0) / (2.0 * q);
      const double a0 = 1.0 + alpha;
      b0 = lowered * (1.0 - std::cos(w0)) / 2.0 / a0;
      b1 = lowered * (1.0 - std::cos(w0)) / a0;
      a1 = -2.0 * std::cos(w0) / a0;
      a2 = (1.0 - alpha) / a0;
    };
    const bool moving = zone.filterEnvCents != 0.0;
    auto cutoffAt = [&](int64_t i) {
      const double t = static_cast<double>(newLoopStart >= 0 ? std::min(i, newLoopStart) : i) / fps;
      const double cents = std::clamp(
          zone.filterCents + zone.filterEnvCents * zone.modEnvelope.Value(t, key), 1500.0, 13500.0);
      return std::min(8.176 * std::exp2(cents / 1200.0), 0.45 * 44100.0);
    };
    setCutoff(moving ? cutoffAt(0) : zone.filterHz);
    for (int c = 0; c < channels; ++c) {
      double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
      if (!moving && !inBand) {
        for (int64_t i = 0; i < total; ++i)
          mixed[static_cast<size_t>(i * channels + c)] *= static_cast<float>(lowered);
        continue;
      }
      for (int64_t i = 0; i < total; ++i) {
        if (moving && i % 32 == 0) setCutoff(cutoffAt(i));
        float& value = mixed[static_cast<size_t>(i * channels + c)];
        if (!inBand) {
          value = static_cast<float>(value * lowered);
          x2 = x1;
          x1 = value;
          y2 = y1;
          y1 = value;
          continue;
        }
        const double x0 = value;
        const double y0 = b0 * x0 + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x0;
        y2 = y1;
        y1 = y0;
        value = static_cast<float>(y0);
      }
    }
  }

  const int64_t outFrames = frames;
  const std::vector<float>* final = &mixed;
  if (newLoopStart >= 0) {
    out->loop = zone.loop;
    out->loopStart = newLoopStart;
    out->loopEnd = std::min(newLoopStart + loopLength, outFrames) - 1;
    if (out->loopEnd < out->loopStart) out->loop = LoopMode::kNone;
  }
  out->frames.resize(static_cast<size_t>(outFrames * channels));
  for (size_t i = 0; i < out->frames.size(); ++i) {
    const double value = std::round(static_cast<double>((*final)[i]) * 32768.0);
    if (value > 32767.0 || value < -32768.0) out->clipped += 1;
    out->frames[i] = static_cast<int16_t>(std::clamp(value, -32768.0, 32767.0));
  }
  // A file that ends (no loop holds it) falls by itself while it is
  // released too: its mean fall from its loudest 50 ms to the last 50 ms
  // within 60 dB of that, as heard on the middle key, shortens the fade.
  if (out->loop == LoopMode::kNone) {
    const double heard = fps;
    const size_t window = static_cast<size_t>(std::max(1.0, 0.05 * heard)) * channels;
    std::vector<double> levels;
    for (size_t at = 0; at + window <= out->frames.size(); at += window) {
      double sum = 0.0;
      for (size_t i = at; i < at + window; ++i)
        sum += static_cast<double>(out->frames[i]) * out->frames[i];
      levels.push_back(10.0 * std::log10(std::max(sum / static_cast<double>(window), 1e-9)));
    }
    const size_t loudest =
        static_cast<size_t>(std::max_element(levels.begin(), levels.end()) - levels.begin());
    size_t last = loudest;
    for (size_t w = loudest; w < levels.size(); ++w)
      if (levels[w] >= levels[loudest] - 60.0) last = w;
    // Over 100 ms at least: a shorter sound has ended before its release matters.
    if (last >= loudest + 2)
      out->releaseMs = envelope.ReleaseMs((levels[loudest] - levels[last]) /
                                          (static_cast<double>(last - loudest) * 0.05));
  }
  // Two sides equal in every value (a pair of one sound, or gains that round
  // alike) play the same from a mono file, which the engine holds once.
  if (channels == 2) {
    bool same = true;
    for (size_t i = 0; same && i + 1 < out->frames.size(); i += 2)
      same = out->frames[i] == out->frames[i + 1];
    if (same) {
      for (size_t i = 0; 2 * i < out->frames.size(); ++i) out->frames[i] = out->frames[2 * i];
      out->frames.resize(out->frames.size() / 2);
      out->channels = 1;
    }
  }
}
