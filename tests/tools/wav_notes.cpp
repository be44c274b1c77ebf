// Lists the sounding stretches of a 16-bit stereo WAV file written by
// pelvane-render: for each stretch that follows at least 1024 silent frames,
// its first and last sounding frame and its pitch from the zero crossings of
// the left channel over its first 8192 frames.
//   pelvane_wav_notes FILE.wav   ->  "onset 22528 end 31736 hz 348.2" per line
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pelvane_wav_notes FILE.wav\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (!in) return 1;
  unsigned char header[44];
  if (std::fread(header, 1, 44, in) != 44 || std::memcmp(header, "RIFF", 4) != 0) return 1;
  std::vector<short> left;
  unsigned char frame[4];
  while (std::fread(frame, 1, 4, in) == 4) {
    short l = static_cast<short>(frame[0] | frame[1] << 8);
    short r = static_cast<short>(frame[2] | frame[3] << 8);
    left.push_back(l != 0 || r != 0 ? (l != 0 ? l : 1) : 0);
  }
  std::fclose(in);
  const size_t n = left.size();
  size_t i = 0;
  while (i < n) {
    if (left[i] == 0) {
      ++i;
      continue;
    }
    const size_t onset = i;
    size_t last = i;
    size_t silent = 0;
    for (; i < n && silent < 1024; ++i) {
      if (left[i] != 0) {
        last = i;
        silent = 0;
      } else {
        ++silent;
      }
    }
    size_t window = last - onset + 1 < 8192 ? last - onset + 1 : 8192;
    int crossings = 0;
    for (size_t k = onset + 1; k < onset + window; ++k)
      if ((left[k - 1] < 0) != (left[k] < 0)) ++crossings;
    std::printf("onset %zu end %zu hz %.1f\n", onset, last,
                crossings * 44100.0 / 2.0 / static_cast<double>(window));
  }
  return 0;
}
