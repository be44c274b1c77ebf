// Writes the seed corpora of the fuzz targets: MakeSeeds FOLDER fills
// FOLDER/wave, FOLDER/lines, FOLDER/instruments, FOLDER/smf, FOLDER/sf2 and
// FOLDER/sfz.
#include <filesystem>
#include <string>

#include "support/WaveBytes.h"
#include "unit/import/SoundFontBytes.h"

namespace {

void Seed(const std::string& folder, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(folder);
  WriteBytes(folder + "/" + name, bytes);
}

void SeedText(const std::string& folder, const std::string& name, const std::string& text) {
  Seed(folder, name, Bytes(text.begin(), text.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string root = argv[1];
  const std::string wave = root + "/wave", lines = root + "/lines", sets = root + "/instruments";

  const Bytes fmt = Chunk("fmt ", FormatRecord(1, 1, 44100, 16));
  Seed(wave, "mono16.wav", Wave(1, 44100, 16, Values16({0, 1000, -1000, 32767})));
  Seed(wave, "stereo16.wav", Wave(2, 48000, 16, Values16({1, 2, 3, 4, 5})));
  Seed(wave, "mono8.wav", Wave(1, 22050, 8, {0x80, 0x00, 0xFF, 0x7F, 0x01}));
  Seed(wave, "stereo8.wav", Wave(2, 8000, 8, {0x80, 0x00, 0xFF}));
  Seed(wave, "chunks.wav",
       Concat({Chunk("JUNK", {1, 2, 3}),
               Riff(Concat({Chunk("LIST", {'a', 'b', 'c'}),
                            Chunk("fmt ", FormatRecord(1, 2, 32000, 16, 18)),
                            Chunk("fact", {4, 0, 0, 0, 5}), Chunk("data", Values16({7, -7}))}))}));
  Seed(wave, "extensible.wav",
       Riff(Concat({Chunk("fmt ", FormatRecord(0xFFFE, 2, 44100, 24, 40)), Chunk("data", {1})})));
  Seed(wave, "short-fmt.wav", Riff(Chunk("fmt ", FormatRecord(1, 1, 44100, 16, 14))));
  Seed(wave, "data-first.wav", Riff(Concat({Chunk("data", Values16({1})), fmt})));
  Seed(wave, "four-channels.wav", Wave(4, 44100, 16, Values16({1, 2, 3, 4})));
  Seed(wave, "loop.wav",
       Riff(Concat(
           {fmt, Chunk("data", Values16({1, 2, 3})), Chunk("smpl", SamplerData({{1, 2}}))})));

  SeedText(lines, "ends.txt", "A\r\nB\n\rC\rD\n\nE\n\n\nF\r\r\nlast");
  SeedText(lines, "single.txt", "A\nx");
  SeedText(lines, "long.txt", "short\n" + std::string(3000, 'x') + "\r\nend");

  const std::string pvi =
      "PVID\ninstrument\n{\n  ID 0\n  name Piano\n  sample\n  {\n    file a.wav\n    base 48\n"
      "    begin 0\n    end 59\n  }\n  sample {\n    file b.wav\n    basement 72\n    begin 80\n"
      "    end 60\n    fine 3\n  }\n}\nINSTRUMENT\nidentifier 5\nname Two\nsamples\nfile a.wav\n"
      "}\n}\ninstrument\nID 5\nsample\nfile none.wav\n}\n}\ninstrument\nID -1\nsample\n"
      "file a.wav\n}\n}\ninstrument\nID 200\nsample\nfile b.wav\nbegin -20\nend 300\n}\n}\n";
  SeedText(sets, "example.pvi", pvi);
  SeedText(sets, "cut.pvi", "PVID\r\ninstrument\r\nID 3\r\nsample\r\nfile a.wav");
  SeedText(sets, "bad-magic.pvi", "pvid\ninstrument\n");
  SeedText(
      sets, "loops.pvi",
      "PVID\ninstrument\nchannel 10\nsample\nloop 0 2 sustain\nrelease 12.5\nfile a.wav\n}\n"
      "sample\nfile a.wav\nloop\nrelease 0.1\n}\n}\ninstrument\nchannel 10\nsample\n"
      "file b.wav\nloop -1 9 backwards\n}\n}\ninstrument\nchannel 17\nsample\nfile b.wav\n}\n}\n");

  // MIDI files: two tracks with three tempo changes; one track with running
  // status, a text meta event, system exclusive and an unknown chunk.
  const std::string smf = root + "/smf";
  Seed(smf, "tempo.mid",
       {0x4d, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x60, 0x4d,
        0x54, 0x72, 0x6b, 0x00, 0x00, 0x00, 0x1b, 0x00, 0xff, 0x51, 0x03, 0x07, 0xa1, 0x20, 0x81,
        0x40, 0xff, 0x51, 0x03, 0x03, 0xd0, 0x90, 0x81, 0x40, 0xff, 0x51, 0x03, 0x0f, 0x42, 0x40,
        0x00, 0xff, 0x2f, 0x00, 0x4d, 0x54, 0x72, 0x6b, 0x00, 0x00, 0x00, 0x1e, 0x60, 0x90, 0x3c,
        0x64, 0x18, 0x80, 0x3c, 0x40, 0x81, 0x28, 0x90, 0x40, 0x64, 0x18, 0x80, 0x40, 0x40, 0x81,
        0x28, 0x90, 0x43, 0x64, 0x18, 0x80, 0x43, 0x40, 0x00, 0xff, 0x2f, 0x00});
  Seed(smf, "running.mid",
       {'M',  'T',  'h', 'd',  0,    0,    0,    6,    0,    0,    0,    1,    0x01,
        0xE0, 'X',  'Y', 'Z',  'W',  0,    0,    0,    1,    7,    'M',  'T',  'r',
        'k',  0,    0,   0,    33,   0x00, 0xC1, 0x05, 0x00, 0x91, 60,   100,  0x83,
        0x60, 64,   90,  0x00, 0xFF, 0x03, 0x02, 'h',  'i',  0x00, 0xF0, 0x02, 0x7E,
        0xF7, 0x10, 60,  0,    0x00, 0xE1, 0x00, 0x40, 0x00, 0xFF, 0x2F, 0x00});
  // The same kinds of input pelvane-render tells apart by content: an RMID
  // wrapper around a MIDI file, a dump (with a partial last record), text.
  Seed(smf, "wrapped.rmi",
       {'R', 'I',  'F', 'F', 38,  0,   0,   0,   'R', 'M', 'I',  'D',  'd',  'a', 't', 'a',
        26,  0,    0,   0,   'M', 'T', 'h', 'd', 0,   0,   0,    6,    0,    0,   0,   1,
        0,   0x60, 'M', 'T', 'r', 'k', 0,   0,   0,   4,   0x00, 0xFF, 0x2F, 0x00});
  Seed(smf, "take.pvd",
       {0xDC, 0x05, 0, 0, 0x90, 0x3C, 0x64, 0, 0x08, 0x07, 0, 0, 0x80, 0x3C, 0x40, 0, 1, 2, 3});
  SeedText(smf, "readme.txt", "# Pelvane\n\nA small real-time software synthesizer.\n");
  // A SoundFont with a global zone, a stereo pair and a loop; an SFZ kit
  // over every header.
  {
    using B = SoundFontBytes;
    B font;
    font.SetFrames(std::vector<int16_t>(300, 1000));
    font.AddSample({"L", 0, 100, 10, 90, 44100, 60, 0, 1, 4});
    font.AddSample({"R", 100, 200, 110, 190, 44100, 60, 0, 0, 2});
    font.AddSample({"M", 200, 300, 210, 290, 22050, 72, -5, 0, 1});
    font.Preset("Pad", 0, 0);
    font.PresetZone({{43, B::Range(20, 100)}, {51, B::Amount(1)}, {41, 0}});
    font.Preset("Kit", 0, 128);
    font.PresetZone({{41, 0}});
    font.Instrument("PadInst");
    font.InstrumentZone({{48, B::Amount(100)}, {36, B::Amount(-1200)}, {37, B::Amount(300)}});
    font.InstrumentZone({{43, B::Range(0, 60)}, {17, B::Amount(-500)}, {54, 1}, {53, 0}});
    font.InstrumentZone({{43, B::Range(0, 60)}, {17, B::Amount(500)}, {54, 1}, {53, 1}});
    font.InstrumentZone({{43, B::Range(61, 127)}, {56, 0}, {54, 3}, {53, 2}});
    const std::vector<uint8_t> bytes = font.Build();
    Seed(root + "/sf2", "layered.sf2", Bytes(bytes.begin(), bytes.end()));
    font.SetName("Odd", false);
    const std::vector<uint8_t> odd = font.Build();
    Seed(root + "/sf2", "unpadded.sf2", Bytes(odd.begin(), odd.end()));
  }
  SeedText(root + "/sfz", "kit.sfz",
           "// kit\n#define $K 60\n<control> default_path=s\\\n<global> volume=-3\n"
           "<master> tune=5\n<group> lovel=1 hivel=90 /* x */\n"
           "<region> sample=a b.wav key=$K loop_mode=loop_sustain\n"
           "<region> sample=c.flac lokey=c#4 hikey=g9 #include \"x.sfz\"\n<curve> v000=0\n");
  return 0;
}
