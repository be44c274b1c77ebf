#include "tools/import/ZoneRenderer.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/import/RateFit.h"
#include "tools/import/VolumeEnvelope.h"

namespace {

// A longer file for a sample played far below its own pitch costs memory in
// the engine: at most this many times the frames.
constexpr double kMaxRatio = 2.0;

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

bool RateFits(const ImportZone& zone, int keyLo, int keyHi) {
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
  int base = 0;
  double idealRate = 0.0;
  TuningFor(zone, (keyLo + keyHi + 1) / 2, &base, &idealRate);
  const int64_t loopLength = zone.loop != LoopMode::kNone ? zone.loopEnd - zone.loopStart : 0;
  return RateFit::Choose(idealRate, base, keyLo, keyHi, loopLength, kMaxRatio, true).found;
}

bool RenderZone(const ImportZone& zone, int keyLo, int keyHi, double maxSeconds,
                RenderedSample* out, const std::vector<RateChoice>* earlier) {
  *out = RenderedSample();
  out->keyLo = keyLo;
  out->keyHi = keyHi;
  const int key = (keyLo + keyHi + 1) / 2;
  double idealRate = 0.0;
  TuningFor(zone, key, &out->base, &idealRate);

  const int64_t length = std::max<int64_t>(zone.end - zone.start, 1);
  const bool looped = zone.loop != LoopMode::kNone;
  const int64_t loopLength = looped ? zone.loopEnd - zone.loopStart : 0;

  RateChoice fit;
  if (earlier) {
    // (Only a rate made for this ideal rate plays in tune: a zone that does
    // not follow the keyboard in semitones has another on every key.)
    for (const RateChoice& choice : *earlier)
      if (std::fabs(idealRate * choice.ratio - choice.rate) <= 0.5 &&
          RateFit::WorstCents(choice.rate, out->base, keyLo, keyHi) <= RateFit::kToleranceCents) {
        fit = choice;
        fit.worstCents = RateFit::WorstCents(choice.rate, out->base, keyLo, keyHi);
        break;
      }
  }
  if (!fit.found) fit = RateFit::Choose(idealRate, out->base, keyLo, keyHi, loopLength, kMaxRatio);
  out->fit = fit;
  if (!fit.found && keyHi > keyLo) return false;
  out->rate = fit.rate;
  out->pitchFits = fit.found;
  out->worstCents = fit.worstCents;
  char text[200];
  if (!fit.found) {
    std::snprintf(text, sizeof text, "key %d plays up to %.1f cents flat", keyLo, fit.worstCents);
    out->notes.push_back(text);
  }

  // The frames of the source in the order a held note reads them, with the
  // envelope's amplitude for each.
  const double fps = FramesPerSecond(zone, key);
  const VolumeEnvelope envelope(zone.envelope, key);
  out->releaseMs = envelope.ReleaseMs();
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
  } else if (envelope.DecaysToSilence()) {
    frames = static_cast<int64_t>(std::max(1.0, std::min(std::ceil(settleFrames), maxFrames)));
    out->notes.push_back("the loop is written out until the sound has fallen 60 dB");
  } else {
    double target = std::min(settleFrames, maxFrames);
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
    if (settleFrames > maxFrames) {
      std::snprintf(text, sizeof text,
                    "the envelope still moves after %.1f s; its level there is held", maxSeconds);
      out->notes.push_back(text);
    }
  }
  // Frames past the end give the resampler what follows (the loop again,
  // or silence).
  const int64_t pad = fit.ratio != 1.0 ? 64 : 0;
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
  // A centred pan gives equal gains but for the last bits of sin and cos.
  const bool mono = zone.sources == 1 && std::fabs(zone.gain[0][0] - zone.gain[1][0]) < 1e-9;
  const int channels = mono ? 1 : 2;
  out->channels = channels;
  const int64_t total = frames + pad;
  std::vector<float> mixed(static_cast<size_t>(total * channels));
  const double heldAmplitude =
      newLoopStart >= 0 ? envelope.Amplitude(static_cast<double>(newLoopStart) / fps) : 0.0;
  for (int64_t i = 0; i < total; ++i) {
    if (!zone.secondApart && sourceIndex(i) < 0) continue;
    const double amplitude = newLoopStart >= 0 && i >= newLoopStart
                                 ? heldAmplitude
                                 : envelope.Amplitude(static_cast<double>(i) / fps);
    double value[2] = {0.0, 0.0};
    for (int s = 0; s < zone.sources; ++s) value[s] = sourceValue(s, i);
    for (int c = 0; c < channels; ++c) {
      double sum = 0.0;
      for (int s = 0; s < zone.sources; ++s) sum += zone.gain[c][s] * value[s];
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
    const double gain = std::pow(10.0, -zone.filterQDb / 40.0);
    double b0 = 0.0, b1 = 0.0, a1 = 0.0, a2 = 0.0;
    bool inBand = false;
    auto setCutoff = [&](double hz) {
      inBand = hz / fps < 0.49;
      const double w0 = 2.0 * M_PI * std::min(hz / fps, 0.49);
      const double alpha = std::sin(w0) / (2.0 * q);
      const double a0 = 1.0 + alpha;
      b0 = gain * (1.0 - std::cos(w0)) / 2.0 / a0;
      b1 = gain * (1.0 - std::cos(w0)) / a0;
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
        for (int64_t i = 0; i < total; ++i) mixed[static_cast<size_t>(i * channels + c)] *= gain;
        continue;
      }
      for (int64_t i = 0; i < total; ++i) {
        if (moving && i % 32 == 0) setCutoff(cutoffAt(i));
        float& value = mixed[static_cast<size_t>(i * channels + c)];
        if (!inBand) {
          value = static_cast<float>(value * gain);
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

  int64_t outFrames = frames;
  std::vector<float> resampled;
  const std::vector<float>* final = &mixed;
  if (fit.ratio != 1.0) {
    outFrames = static_cast<int64_t>(std::llround(static_cast<double>(frames) * fit.ratio));
    if (newLoopStart >= 0) {
      const int64_t start = std::llround(static_cast<double>(newLoopStart) * fit.ratio);
      outFrames = start + fit.loopLength + std::llround(static_cast<double>(tail) * fit.ratio);
    }
    resampled.resize(static_cast<size_t>((outFrames + 16) * channels) +
                     static_cast<size_t>(static_cast<double>(total) * fit.ratio * channels) + 64);
    SRC_DATA data{};
    data.data_in = mixed.data();
    data.input_frames = static_cast<long>(total);
    data.data_out = resampled.data();
    data.output_frames = static_cast<long>(resampled.size() / static_cast<size_t>(channels));
    data.src_ratio = fit.ratio;
    data.end_of_input = 1;
    if (src_simple(&data, SRC_SINC_FASTEST, channels) != 0) {
      out->notes.push_back("resampling failed; written at the source rate");
      out->rate = static_cast<int32_t>(std::lround(idealRate));
      outFrames = frames;
    } else {
      final = &resampled;
      outFrames = std::min<int64_t>(outFrames, data.output_frames_gen);
    }
  }
  if (newLoopStart >= 0) {
    const double ratio = final == &resampled ? fit.ratio : 1.0;
    out->loop = zone.loop;
    out->loopStart = std::llround(static_cast<double>(newLoopStart) * ratio);
    const int64_t outLength = ratio == 1.0 ? loopLength : fit.loopLength;
    out->loopEnd = std::min(out->loopStart + outLength, outFrames) - 1;
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
    const double heard = fps * (final == &resampled ? fit.ratio : 1.0);
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
  return true;
}
