// Writes Standard MIDI Files for the render tests and benchmark.
//   pelvane_make_midi tempo OUT.mid         three notes across two tempo changes
//   pelvane_make_midi song SECONDS OUT.mid  dense chords on four channels
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Number(Bytes* out, unsigned value) {
  unsigned char groups[5];
  int n = 0;
  do {
    groups[n++] = value & 0x7F;
    value >>= 7;
  } while (value);
  while (n > 1) out->push_back(static_cast<unsigned char>(groups[--n] | 0x80));
  out->push_back(groups[0]);
}

struct Track {
  Bytes data;
  unsigned lastTick = 0;
  void At(unsigned tick, std::initializer_list<unsigned char> bytes) {
    Number(&data, tick - lastTick);
    lastTick = tick;
    data.insert(data.end(), bytes);
  }
  void Tempo(unsigned tick, unsigned microsecondsPerQuarter) {
    At(tick, {0xFF, 0x51, 0x03, static_cast<unsigned char>(microsecondsPerQuarter >> 16),
              static_cast<unsigned char>(microsecondsPerQuarter >> 8),
              static_cast<unsigned char>(microsecondsPerQuarter)});
  }
  void End() { At(lastTick, {0xFF, 0x2F, 0x00}); }
};

void BigEndian(Bytes* out, unsigned value, int count) {
  for (int i = count - 1; i >= 0; --i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

bool Save(const char* path, int division, const std::vector<Track>& tracks) {
  Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
  BigEndian(&file, static_cast<unsigned>(tracks.size()), 2);
  BigEndian(&file, static_cast<unsigned>(division), 2);
  for (const Track& track : tracks) {
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    BigEndian(&file, static_cast<unsigned>(track.data.size()), 4);
    file.insert(file.end(), track.data.begin(), track.data.end());
  }
  std::FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && ok;
}

// 96 ticks per quarter. 120 bpm to tick 192 (1 s), 240 bpm to tick 384
// (1.5 s), then 60 bpm. Notes 60, 64, 67 on channel 0 at ticks 96, 288, 480:
// 0.5 s, 1.25 s and 2.5 s, each held 24 ticks.
bool WriteTempo(const char* path) {
  Track tempo;
  tempo.Tempo(0, 500000);
  tempo.Tempo(192, 250000);
  tempo.Tempo(384, 1000000);
  tempo.End();
  Track notes;
  const unsigned char pitches[] = {60, 64, 67};
  const unsigned ticks[] = {96, 288, 480};
  for (int i = 0; i < 3; ++i) {
    notes.At(ticks[i], {0x90, pitches[i], 100});
    notes.At(ticks[i] + 24, {0x80, pitches[i], 64});
  }
  notes.End();
  return Save(path, 96, {tempo, notes});
}

// Four channels, 120 bpm, 480 ticks per quarter. Every eighth note each
// channel strikes a four-note chord held for a quarter, so chords overlap;
// the harmony walks through a cycle of eight chords. Volumes and sustain
// pedal changes come every bar.
bool WriteSong(const char* path, unsigned seconds) {
  Track tempo;
  tempo.Tempo(0, 500000);
  tempo.End();
  std::vector<Track> tracks = {tempo};
  const unsigned eighths = seconds * 4;  // 120 bpm: four eighths a second
  const int roots[8] = {48, 53, 55, 50, 57, 52, 55, 48};
  const int shape[4] = {0, 4, 7, 12};
  for (int channel = 0; channel < 4; ++channel) {
    Track track;
    // Events are kept sorted by tick per track: note-offs of the previous
    // chord come at the same tick as the next note-ons, before them.
    const unsigned char ch = static_cast<unsigned char>(channel);
    // Programs 0, 32, 88 and 0: the example instrument set's organ, bass and pad.
    const unsigned char programs[4] = {0, 32, 88, 0};
    track.At(0, {static_cast<unsigned char>(0xC0 | ch), programs[channel]});
    std::vector<int> held[2];
    for (unsigned e = 0; e <= eighths; ++e) {
      const unsigned tick = e * 240;
      // At the end both chords still held are released: a synthesizer whose
      // voices loop would otherwise never fall silent.
      for (int parity = 0; parity < 2; ++parity) {
        if (parity != static_cast<int>(e % 2) && e != eighths) continue;
        for (int note : held[parity])
          track.At(tick,
                   {static_cast<unsigned char>(0x80 | ch), static_cast<unsigned char>(note), 0});
        held[parity].clear();
      }
      std::vector<int>& ending = held[e % 2];
      if (e == eighths) break;
      if (e % 8 == 0) {
        track.At(tick, {static_cast<unsigned char>(0xB0 | ch), 7,
                        static_cast<unsigned char>(80 + (e / 8 + channel) % 4 * 10)});
        track.At(tick, {static_cast<unsigned char>(0xB0 | ch), 64,
                        static_cast<unsigned char>((e / 8) % 2 ? 127 : 0)});
      }
      const int root = roots[(e / 8) % 8] + 12 * (channel % 3) + (channel == 3 ? 7 : 0);
      for (int k = 0; k < 4; ++k) {
        int note = root + shape[k] + static_cast<int>(e % 4 == 3 ? 2 : 0);
        track.At(tick, {static_cast<unsigned char>(0x90 | ch), static_cast<unsigned char>(note),
                        static_cast<unsigned char>(70 + (e * 7 + k * 13) % 50)});
        ending.push_back(note);
      }
    }
    track.End();
    tracks.push_back(track);
  }
  return Save(path, 480, tracks);
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = false;
  if (argc == 3 && std::strcmp(argv[1], "tempo") == 0) {
    ok = WriteTempo(argv[2]);
  } else if (argc == 4 && std::strcmp(argv[1], "song") == 0) {
    ok = WriteSong(argv[3], static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
  } else {
    std::fprintf(
        stderr,
        "usage: pelvane_make_midi tempo OUT.mid | pelvane_make_midi song SECONDS OUT.mid\n");
    return 2;
  }
  if (!ok) std::fprintf(stderr, "pelvane_make_midi: cannot write the file\n");
  return ok ? 0 : 1;
}
