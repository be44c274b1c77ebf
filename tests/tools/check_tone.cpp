// pelvane_check_tone REC.wav
// Checks a recording of one held and released note of the default instrument
// (note 64, velocity 100, volume 100): silence, then one stretch of sound,
// then silence. The sound repeats at 44100 / (2 pi 16) = 438.67 Hz, its
// left and right peaks are exactly +-623 (2047 * 78 / 256, truncated toward
// zero) and its last frames, after the release, are quieter than that.
// Prints what it measured; exit code 0 when everything holds.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool ReadWave(const char* path, std::vector<int16_t>& samples) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  unsigned char header[44];
  bool ok = std::fread(header, 1, 44, f) == 44 && std::memcmp(header, "RIFF", 4) == 0 &&
            std::memcmp(header + 36, "data", 4) == 0;
  if (ok) {
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

}  // namespace

int main(int argc, char** argv) {
  std::vector<int16_t> s;
  if (argc != 2 || !ReadWave(argv[1], s)) {
    std::fprintf(stderr, "usage: %s REC.wav (16-bit stereo)\n", argv[0]);
    return 2;
  }
  const long frames = long(s.size() / 2);
  long first = -1, last = -1;
  for (long i = 0; i < frames; ++i)
    if (s[2 * i] != 0 || s[2 * i + 1] != 0) {
      if (first < 0) first = i;
      last = i;
    }
  std::printf("frames %ld, sound from %ld to %ld\n", frames, first, last);
  if (first < 0) {
    Check(false, "the note is heard");
    return 1;
  }
  const long kQuiet = 44100 / 5;  // 0.2 s
  Check(first >= kQuiet, "silence for at least 0.2 s before the note");
  Check(frames - 1 - last >= kQuiet, "silence for at least 0.2 s after the voice is gone");
  Check(last - first >= 44100 / 4, "the note sounds for at least 0.25 s");

  // No silent gap inside the note: a sine of 2047 at this gain is zero in
  // both channels at once nowhere for more than a frame.
  long gap = 0, longestGap = 0;
  for (long i = first; i <= last; ++i) {
    gap = (s[2 * i] == 0 && s[2 * i + 1] == 0) ? gap + 1 : 0;
    if (gap > longestGap) longestGap = gap;
  }
  std::printf("longest silence inside the note: %ld frames\n", longestGap);
  Check(longestGap <= 1, "the note is continuous");

  int maxLeft = -32768, minLeft = 32767, maxRight = -32768, minRight = 32767;
  for (long i = first; i <= last; ++i) {
    maxLeft = std::max<int>(maxLeft, s[2 * i]);
    minLeft = std::min<int>(minLeft, s[2 * i]);
    maxRight = std::max<int>(maxRight, s[2 * i + 1]);
    minRight = std::min<int>(minRight, s[2 * i + 1]);
  }
  std::printf("peaks: left %d..%d, right %d..%d\n", minLeft, maxLeft, minRight, maxRight);
  Check(maxLeft == 623 && minLeft == -623 && maxRight == 623 && minRight == -623, "peaks are +-623");

  // Rising zero crossings of the left channel, interpolated, over the note.
  double firstCrossing = -1, lastCrossing = -1;
  long crossings = 0;
  for (long i = first + 1; i <= last; ++i) {
    int a = s[2 * (i - 1)], b = s[2 * i];
    if (a < 0 && b >= 0) {
      double at = (i - 1) + double(-a) / double(b - a);
      if (firstCrossing < 0) firstCrossing = at;
      lastCrossing = at;
      ++crossings;
    }
  }
  double hz = crossings > 1 ? (crossings - 1) * 44100.0 / (lastCrossing - firstCrossing) : 0;
  std::printf("frequency %.2f Hz over %ld periods\n", hz, crossings - 1);
  Check(std::fabs(hz - 438.67) < 0.5, "frequency 438.67 Hz within 0.5 Hz");

  // The release fade: the last stretch (under 1009 frames) plays at a lower gain.
  int tailPeak = 0;
  for (long i = std::max(first, last - 900); i <= last; ++i)
    tailPeak = std::max(tailPeak, std::abs(int(s[2 * i])));
  std::printf("peak of the last 900 frames: %d\n", tailPeak);
  Check(tailPeak > 0 && tailPeak < 623, "the note fades out after its release");
  return g_failures == 0 ? 0 : 1;
}
