// Writes the seed corpora of the fuzz targets: MakeSeeds FOLDER fills
// FOLDER/wave, FOLDER/lines and FOLDER/instruments.
#include <filesystem>
#include <string>

#include "support/WaveBytes.h"

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
  return 0;
}
