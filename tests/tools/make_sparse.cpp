// Writes inputs that behave like real music, for the render benchmark and the
// render checksums. Everything comes from a fixed seed: the same bytes on
// every run and every platform.
//   pelvane_make_sparse piece SECONDS OUT.mid  melody and accompaniment of one
//       to eight voices (about 40 messages a second); every track ends at
//       its last note-off
//   pelvane_make_sparse dump SECONDS OUT.pvd   a keyboard session as the
//       synthesizer records it: played notes and chords with human timing,
//       sustain pedal, a volume and a program change, active sensing
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "synth/DumpFile.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Random {
  unsigned state;
  unsigned Next(unsigned range) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % range;
  }
};

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

struct Event {
  unsigned tick;
  int order;  // at equal ticks: note-offs (0) before everything else (1)
  unsigned char bytes[3];
  int size;
};

// One track's events, sorted on output, then an End of Track at the last one.
struct Track {
  std::vector<Event> events;
  void Add(unsigned tick, std::initializer_list<unsigned char> bytes, int order = 1) {
    Event event{tick, order, {0, 0, 0}, static_cast<int>(bytes.size())};
    std::memcpy(event.bytes, bytes.begin(), bytes.size());
    events.push_back(event);
  }
  void Note(unsigned char channel, unsigned tick, unsigned length, int note, int velocity) {
    Add(tick, {static_cast<unsigned char>(0x90 | channel), static_cast<unsigned char>(note),
               static_cast<unsigned char>(velocity)});
    Add(tick + length,
        {static_cast<unsigned char>(0x80 | channel), static_cast<unsigned char>(note), 64}, 0);
  }
  Bytes Chunk() const {
    std::vector<Event> sorted = events;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Event& a, const Event& b) {
      return a.tick < b.tick || (a.tick == b.tick && a.order < b.order);
    });
    Bytes data;
    unsigned last = 0;
    for (const Event& event : sorted) {
      Number(&data, event.tick - last);
      last = event.tick;
      data.insert(data.end(), event.bytes, event.bytes + event.size);
    }
    data.insert(data.end(), {0x00, 0xFF, 0x2F, 0x00});
    return data;
  }
};

void BigEndian(Bytes* out, unsigned value, int count) {
  for (int i = count - 1; i >= 0; --i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

bool Save(const char* path, const Bytes& bytes) {
  std::FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

// 120 bpm, 480 ticks a quarter, 2 s a bar. A melody on channel 0 (program 0)
// all through, mostly in sixteenths; in two-bar steps the accompaniment grows
// from nothing to a bass on channel 2 (program 32) and six chord voices on
// channel 1 (program 0 again), both in eighths, and starts again every
// sixteen bars: one to eight notes held at once. Chords follow I-vi-IV-V in
// C. No sound with a long release (a General MIDI pad would ring on for
// seconds after every chord), so that other synthesizers, too, play one to
// eight notes and their release tails.
bool WritePiece(const char* path, unsigned seconds) {
  const unsigned bars = seconds / 2;
  const unsigned kBar = 4 * 480, kEighth = 240, kSixteenth = 120;
  const int scale[7] = {0, 2, 4, 5, 7, 9, 11};
  const int roots[4] = {0, 9, 5, 7};  // C, A minor, F, G
  Random random{20240611u};
  Track melody, chords, bass;
  melody.Add(0, {0xC0, 0});
  chords.Add(0, {0xC1, 0});
  bass.Add(0, {0xC2, 32});
  int degree = 14;  // scale steps above C3
  for (unsigned bar = 0; bar < bars; ++bar) {
    const unsigned start = bar * kBar;
    const int root = roots[bar % 4];
    const int level = static_cast<int>((bar / 2) % 8);  // voices besides the melody
    if (bar % 16 == 0) {
      melody.Add(start, {0xB0, 7, static_cast<unsigned char>(90 + random.Next(30))});
      chords.Add(start, {0xB1, 7, static_cast<unsigned char>(60 + random.Next(30))});
    }
    // The melody: a random walk on the scale in sixteenths, eighths and
    // dotted eighths, with a rest now and then.
    for (unsigned at = 0; at < kBar;) {
      const unsigned lengths[4] = {kSixteenth, kSixteenth, kSixteenth, kEighth};
      const unsigned length = lengths[random.Next(4)];
      const unsigned step = random.Next(5);
      degree += step == 0 ? -2 : step == 4 ? 2 : static_cast<int>(step) - 2;
      if (degree < 7) degree = 9;
      if (degree > 24) degree = 22;
      const int note = 48 + 12 * (degree / 7) + scale[degree % 7];
      if (random.Next(12) != 0)
        melody.Note(0, start + at, length * 9 / 10, note, 70 + static_cast<int>(random.Next(50)));
      at += length;
    }
    // The bass in eighths, on the root and its octave.
    if (level >= 1)
      for (unsigned eighth = 0; eighth < 8; ++eighth)
        bass.Note(2, start + eighth * kEighth, kEighth - 30, 36 + root + (eighth % 4 == 3 ? 12 : 0),
                  90 + static_cast<int>(random.Next(20)));
    const int shape[6] = {0, 4, 7, 12, 16, 19};  // root position, spread upward
    for (unsigned eighth = 0; eighth < 8 && level >= 2; ++eighth)
      for (int voice = 0; voice < level - 1; ++voice)
        chords.Note(1, start + eighth * kEighth, kEighth - 20,
                    48 + root + shape[voice] - (root > 6 ? 12 : 0),
                    50 + static_cast<int>(random.Next(30)));
  }
  Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 4};
  BigEndian(&file, 480, 2);
  // The tempo track: 500000 us a quarter at tick 0, then its end.
  const Bytes tempo = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00};
  for (const Bytes& data : {tempo, melody.Chunk(), chords.Chunk(), bass.Chunk()}) {
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    BigEndian(&file, static_cast<unsigned>(data.size()), 4);
    file.insert(file.end(), data.begin(), data.end());
  }
  return Save(path, file);
}

// A player at a keyboard: the input was started 2.3 s before the first note;
// phrases of single notes and chords, note-offs sent as note-ons of velocity
// 0, the sustain pedal held over every other phrase, a volume change and a
// change to program 32 halfway, and active sensing every 300 ms throughout.
// Written record by record through the synthesizer's own dump writer.
bool WriteDump(const char* path, unsigned seconds) {
  struct Record {
    unsigned ms, message;
  };
  std::vector<Record> records;
  Random random{7u};
  const unsigned end = seconds * 1000;
  auto add = [&](unsigned ms, unsigned status, unsigned data1, unsigned data2) {
    records.push_back({ms, status | data1 << 8 | data2 << 16});
  };
  unsigned ms = 2300;
  for (int phrase = 0; ms + 4000 < end; ++phrase) {
    const bool pedal = phrase % 2 == 1;
    if (pedal) add(ms, 0xB0, 64, 127);
    if (phrase == 6) add(ms, 0xB0, 7, 80);
    if (phrase == 10) add(ms, 0xC0, 32, 0);
    const unsigned notes = 6 + random.Next(10);
    for (unsigned n = 0; n < notes; ++n) {
      const unsigned chord = random.Next(4) == 0 ? 3 : 1;
      const unsigned base = 48 + random.Next(30);
      const unsigned held = 150 + random.Next(500);
      for (unsigned k = 0; k < chord; ++k) {
        const unsigned at = ms + random.Next(12);  // a hand is never exact
        add(at, 0x90, base + 4 * k, 40 + random.Next(80));
        add(at + held + random.Next(30), 0x90, base + 4 * k, 0);
      }
      ms += 120 + random.Next(400);
    }
    ms += 300 + random.Next(900);
    if (pedal) add(ms, 0xB0, 64, 0);
    ms += 200;
  }
  for (unsigned at = 0; at < ms; at += 300) add(at, 0xFE, 0, 0);
  // Arrival order is time order; at equal times, in the order made.
  std::stable_sort(records.begin(), records.end(),
                   [](const Record& a, const Record& b) { return a.ms < b.ms; });
  std::remove(path);
  platform::FileHandle file = platform::FileCreateNew(path);
  if (file == platform::kNoFile) return false;
  for (const Record& record : records) WriteDumpRecord(file, record.ms, record.message);
  platform::FileClose(file);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "piece") != 0 && std::strcmp(argv[1], "dump") != 0)) {
    std::fprintf(stderr,
                 "usage: pelvane_make_sparse piece SECONDS OUT.mid | pelvane_make_sparse dump "
                 "SECONDS OUT.pvd\n");
    return 2;
  }
  const unsigned seconds = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  const bool ok = std::strcmp(argv[1], "piece") == 0 ? WritePiece(argv[3], seconds)
                                                     : WriteDump(argv[3], seconds);
  if (!ok) std::fprintf(stderr, "pelvane_make_sparse: cannot write the file\n");
  return ok ? 0 : 1;
}
