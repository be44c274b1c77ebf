// pelvane_check_tone REC.wav
// Checks a recording of one held and released note of the default instrument
// (note 64, velocity 100, volume 100): silence, then one stretch of sound,
// then silence. The sound repeats at 44100 / (2 pi 16) = 438.67 Hz and its
// left and right peaks are +-623 (2047 * 78 / 256, truncated toward zero);
// its last frames, after the release, are quieter than that. Between onset
// and release the spectrum holds the tone and its harmonics only: a frame
// lost, repeated or out of place at a buffer boundary spreads energy across
// the spectrum, so nothing away from the harmonics may come within 60 dB of
// the tone.
//
// A recording at 44100 frames/s must hold the mixer's frames exactly: peaks
// exactly +-623, the frequency within 0.5 Hz. At another rate (the device
// converted) the peaks of the steady stretch may differ by 2% and the
// frequency by 0.5%, and the converter's ringing at the onset and the release
// is bounded on its own.
// Prints what it measured; exit code 0 when everything holds.
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kToneHz = 44100.0 / (2 * kPi * 16);

bool ReadWave(const char* path, std::vector<int16_t>& samples, unsigned* rate) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  unsigned char header[44];
  bool ok = std::fread(header, 1, 44, f) == 44 && std::memcmp(header, "RIFF", 4) == 0 &&
            std::memcmp(header + 36, "data", 4) == 0;
  if (ok) {
    *rate = header[24] | header[25] << 8 | header[26] << 16 | unsigned(header[27]) << 24;
    uint32_t bytes = header[40] | header[41] << 8 | header[42] << 16 | uint32_t(header[43]) << 24;
    samples.resize(bytes / 2);
    ok = std::fread(samples.data(), 2, samples.size(), f) == samples.size();
  }
  std::fclose(f);
  return ok;
}

int g_failures = 0;
void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  g_failures += !ok;
}

// In place, radix 2; data.size() a power of two.
void Fft(std::vector<std::complex<double>>& data) {
  const size_t n = data.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(data[i], data[j]);
  }
  for (size_t length = 2; length <= n; length <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2 * kPi / double(length));
    for (size_t start = 0; start < n; start += length) {
      std::complex<double> w = 1;
      for (size_t k = 0; k < length / 2; ++k, w *= step) {
        const std::complex<double> a = data[start + k], b = data[start + k + length / 2] * w;
        data[start + k] = a + b;
        data[start + k + length / 2] = a - b;
      }
    }
  }
}

// The loudest bin of the left channel over [from, from + n) that lies more
// than eight bins from every harmonic of the tone, in dB below the tone's own
// bin. A 4-term Blackman-Harris window keeps the tone's leakage below -92 dB
// there.
double WorstOffHarmonicDb(const std::vector<int16_t>& s, long from, size_t n, unsigned rate,
                          double* atHz) {
  std::vector<std::complex<double>> data(n);
  for (size_t i = 0; i < n; ++i) {
    const double x = 2 * kPi * double(i) / double(n - 1);
    const double w =
        0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    data[i] = w * s[2 * (from + long(i))];
  }
  Fft(data);
  const double binHz = double(rate) / double(n);
  double tone = 0, worst = 0;
  *atHz = 0;
  for (size_t k = 1; k < n / 2; ++k) {
    const double hz = double(k) * binHz;
    const double magnitude = std::abs(data[k]);
    const double harmonic = std::round(hz / kToneHz);
    if (harmonic == 1 && magnitude > tone) tone = magnitude;
    if (harmonic >= 1 && std::fabs(hz - harmonic * kToneHz) <= 8 * binHz) continue;
    if (harmonic < 1 && hz <= 8 * binHz) continue;
    if (magnitude > worst) {
      worst = magnitude;
      *atHz = hz;
    }
  }
  return 20 * std::log10(std::max(worst, 1e-12) / tone);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int16_t> s;
  unsigned rate = 0;
  if (argc != 2 || !ReadWave(argv[1], s, &rate) || rate == 0) {
    std::fprintf(stderr, "usage: %s REC.wav (16-bit stereo)\n", argv[0]);
    return 2;
  }
  const bool exact = rate == 44100;
  const long frames = long(s.size() / 2);
  long first = -1, last = -1;
  for (long i = 0; i < frames; ++i)
    if (s[2 * i] != 0 || s[2 * i + 1] != 0) {
      if (first < 0) first = i;
      last = i;
    }
  std::printf("%u frames/s, frames %ld, sound from %ld to %ld\n", rate, frames, first, last);
  if (first < 0) {
    Check(false, "the note is heard");
    return 1;
  }
  const long kQuiet = rate / 5;  // 0.2 s
  Check(first >= kQuiet, "silence for at least 0.2 s before the note");
  Check(frames - 1 - last >= kQuiet, "silence for at least 0.2 s after the voice is gone");
  Check(last - first >= long(rate) / 4, "the note sounds for at least 0.25 s");

  // The steady stretch between onset and release (the release fade, and
  // after a conversion the filter's faint ringing, come after it).
  const long steadyFrom = first + long(rate) / 50, steadyTo = last - long(rate) * 8 / 100;

  // No silent gap from the onset (a converter's faint ringing ahead of it
  // aside: the first frame louder than a tenth of the peak) up to the
  // release: a sine of 2047 at this gain is zero in both channels at once
  // nowhere for more than a frame.
  long onset = first;
  while (onset < last && std::abs(int(s[2 * onset])) < 62 && std::abs(int(s[2 * onset + 1])) < 62)
    ++onset;
  long gap = 0, longestGap = 0;
  for (long i = onset; i <= steadyTo; ++i) {
    gap = (s[2 * i] == 0 && s[2 * i + 1] == 0) ? gap + 1 : 0;
    if (gap > longestGap) longestGap = gap;
  }
  std::printf("longest silence inside the note: %ld frames\n", longestGap);
  Check(longestGap <= 1, "the note is continuous");

  // The largest and smallest value of each channel over [from, to].
  struct Peaks {
    int minLeft = 32767, maxLeft = -32768, minRight = 32767, maxRight = -32768;
  };
  auto peaksOver = [&s](long from, long to) {
    Peaks p;
    for (long i = from; i <= to; ++i) {
      p.maxLeft = std::max<int>(p.maxLeft, s[2 * i]);
      p.minLeft = std::min<int>(p.minLeft, s[2 * i]);
      p.maxRight = std::max<int>(p.maxRight, s[2 * i + 1]);
      p.minRight = std::min<int>(p.minRight, s[2 * i + 1]);
    }
    return p;
  };
  const Peaks all = peaksOver(first, last);
  std::printf("peaks: left %d..%d, right %d..%d\n", all.minLeft, all.maxLeft, all.minRight,
              all.maxRight);
  if (exact) {
    Check(all.maxLeft == 623 && all.minLeft == -623 && all.maxRight == 623 && all.minRight == -623,
          "peaks are +-623");
  } else {
    // A converter band-limits the tone again, and every step in the mixer's
    // output rings in its filter: the onset (the right channel starts at 62),
    // the release's first buffer (the gain drops from 78 to 50: peaks from 623
    // to 399) and the fade's end. libsamplerate's medium converter overshoots
    // a step by up to 13% of its height, and the height is the tone's value at
    // that frame, so by how much a peak exceeds 623 there depends on the phase
    // at which the note starts or is released. The level is therefore
    // compared over the steady stretch alone, and the whole sound is bounded on
    // its own by the largest step's ringing: the release's 623 - 399 = 224 may
    // add 13% of itself, 29, to the 2%. (The mixer's frames through that
    // converter, released at every frame of one period of the tone and at
    // every offset of the output's frames, peak at 652.6 at 48000 and 96000.)
    const Peaks steady = peaksOver(steadyFrom, steadyTo);
    std::printf("steady peaks: left %d..%d, right %d..%d\n", steady.minLeft, steady.maxLeft,
                steady.minRight, steady.maxRight);
    bool near = true;
    for (int peak : {steady.maxLeft, -steady.minLeft, steady.maxRight, -steady.minRight})
      near = near && std::fabs(peak - 623.0) <= 623.0 * 0.02;
    Check(near, "steady peaks are +-623 within 2%");
    const double ringing = 623.0 * 1.02 + 0.13 * (623 - 399);
    bool bounded = true;
    for (int peak : {all.maxLeft, -all.minLeft, all.maxRight, -all.minRight})
      bounded = bounded && peak <= ringing;
    std::printf("the onset and the release ring to at most %.0f\n", ringing);
    Check(bounded, "no peak beyond what the onset's and the release's steps ring to");
  }

  // Rising zero crossings of the left channel, interpolated, over the steady stretch.
  double firstCrossing = -1, lastCrossing = -1;
  long crossings = 0;
  for (long i = steadyFrom; i <= steadyTo; ++i) {
    int a = s[2 * (i - 1)], b = s[2 * i];
    if (a < 0 && b >= 0) {
      double at = (i - 1) + double(-a) / double(b - a);
      if (firstCrossing < 0) firstCrossing = at;
      lastCrossing = at;
      ++crossings;
    }
  }
  double hz = crossings > 1 ? (crossings - 1) * double(rate) / (lastCrossing - firstCrossing) : 0;
  std::printf("frequency %.2f Hz over %ld periods\n", hz, crossings - 1);
  if (exact)
    Check(std::fabs(hz - 438.67) < 0.5, "frequency 438.67 Hz within 0.5 Hz");
  else
    Check(std::fabs(hz - 438.67) < 438.67 * 0.005, "frequency 438.67 Hz within 0.5%");

  // The spectrum over as long a power of two of the steady stretch as fits.
  size_t n = 1;
  while (long(n) * 2 <= steadyTo - steadyFrom) n *= 2;
  if (n >= 8192) {
    double atHz = 0;
    const double worst = WorstOffHarmonicDb(s, steadyFrom, n, rate, &atHz);
    std::printf("loudest off the harmonics over %zu frames: %.1f dB at %.1f Hz\n", n, worst, atHz);
    Check(worst < -60, "nothing within 60 dB of the tone away from its harmonics");
  } else {
    Check(false, "a steady stretch of at least 8192 frames to analyse");
  }

  // The release fade: the last stretch (under 1009 frames at 44100) plays at a lower gain.
  int tailPeak = 0;
  for (long i = std::max(first, last - long(900) * long(rate) / 44100); i <= last; ++i)
    tailPeak = std::max(tailPeak, std::abs(int(s[2 * i])));
  std::printf("peak of the last %ld frames: %d\n", long(900) * long(rate) / 44100, tailPeak);
  Check(tailPeak > 0 && tailPeak < 623, "the note fades out after its release");
  return g_failures == 0 ? 0 : 1;
}
