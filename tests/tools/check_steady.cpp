// pelvane_check_steady REC.wav LOOP HOLD MIN_NOTES
// Checks a recording of a note played again and again, every LOOP frames and
// held HOLD frames each time: the sound comes in separate stretches (sound
// with no run of more than 64 silent frames inside), at least MIN_NOTES of
// them, each starting LOOP frames after the one before (give or take four
// 1024-frame buffers: the mixer starts a note at a buffer boundary) and
// lasting at least 4/5 of HOLD (the last one may be cut by the recording's
// end). A gap in the sound splits a note in two and fails both rules.
// Prints every stretch; exit code 0 when everything holds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr long kGap = 64;
constexpr long kJitter = 4 * 1024;

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

struct Stretch {
  long first, last;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<int16_t> s;
  if (argc != 5 || !ReadWave(argv[1], s)) {
    std::fprintf(stderr, "usage: %s REC.wav LOOP HOLD MIN_NOTES (16-bit stereo)\n", argv[0]);
    return 2;
  }
  const long loop = std::atol(argv[2]), hold = std::atol(argv[3]), minNotes = std::atol(argv[4]);
  const long frames = long(s.size() / 2);
  std::vector<Stretch> stretches;
  for (long i = 0; i < frames; ++i) {
    if (s[2 * i] == 0 && s[2 * i + 1] == 0) continue;
    if (stretches.empty() || i - stretches.back().last > kGap)
      stretches.push_back({i, i});
    else
      stretches.back().last = i;
  }
  int failures = 0;
  for (size_t k = 0; k < stretches.size(); ++k) {
    const Stretch& x = stretches[k];
    long length = x.last - x.first + 1;
    std::printf("note %zu: frames %ld to %ld (%ld frames)", k + 1, x.first, x.last, length);
    bool cut = x.last + kGap >= frames;
    if (length < hold * 4 / 5 && !cut) {
      std::printf("  TOO SHORT");
      failures++;
    }
    if (k > 0) {
      long spacing = x.first - stretches[k - 1].first;
      std::printf(", %ld after the one before", spacing);
      if (spacing < loop - kJitter || spacing > loop + kJitter) {
        std::printf("  WRONG SPACING");
        failures++;
      }
    }
    std::printf("\n");
  }
  if (static_cast<long>(stretches.size()) < minNotes) {
    std::printf("%zu notes, expected at least %ld\n", stretches.size(), minNotes);
    failures++;
  }
  std::printf("%s\n", failures == 0 ? "ok: the notes came steadily" : "FAILED");
  return failures == 0 ? 0 : 1;
}
