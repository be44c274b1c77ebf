// Whole renders: messages through the synthesizer's own code into WAV files,
// checked for the notes' times and pitches, the tail, and byte identity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "ScratchFolder.h"
#include "SmfBytes.h"
#include "engine/InstrumentTable.h"
#include "engine/PitchTable.h"
#include "platform/Thread.h"
#include "support/doubles/SleepMs.h"
#include "support/doubles/VirtualMidi.h"
#include "support/doubles/VirtualWaveOut.h"
#include "synth/Synthesizer.h"
#include "tools/DumpReader.h"
#include "tools/Renderer.h"
#include "tools/SmfReader.h"

namespace {

// The built-in tone: 0.0625 radians per frame at its base note 64.
const double kToneHz = 0.0625 * 44100 / (2 * 3.14159265358979);

double NoteHz(int note) { return kToneHz * std::pow(2.0, (note - 64) / 12.0); }

struct Stretch {
  size_t onset, end;  // first and last sounding frame
  double hz;          // from the left channel's zero crossings
};

struct Render {
  bool ok = false;
  std::string error;
  RenderStats stats;
  std::vector<int16_t> frames;  // interleaved
  Bytes file;

  // Stretches of sound separated by at least 1024 silent frames.
  std::vector<Stretch> Stretches() const {
    std::vector<Stretch> found;
    const size_t n = frames.size() / 2;
    auto sounding = [&](size_t i) { return frames[2 * i] != 0 || frames[2 * i + 1] != 0; };
    for (size_t i = 0; i < n;) {
      if (!sounding(i)) {
        ++i;
        continue;
      }
      Stretch s{i, i, 0};
      for (size_t silent = 0; i < n && silent < 1024; ++i) {
        if (sounding(i)) {
          s.end = i;
          silent = 0;
        } else {
          ++silent;
        }
      }
      const size_t window = std::min<size_t>(s.end - s.onset + 1, 8192);
      int crossings = 0;
      for (size_t k = s.onset + 1; k < s.onset + window; ++k)
        if ((frames[2 * (k - 1)] < 0) != (frames[2 * k] < 0)) ++crossings;
      s.hz = crossings * 44100.0 / 2 / static_cast<double>(window);
      found.push_back(s);
    }
    return found;
  }
};

class RendererTest : public ::testing::Test {
 protected:
  RendererTest() {
    BuildPitchTable();
    auto* tone = new Instrument;
    tone->MakeDefault();
    InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = tone;
  }
  ~RendererTest() override {
    for (Instrument*& slot : InstrumentTable) {
      delete slot;
      slot = nullptr;
    }
  }

  Render RenderEvents(const std::vector<MidiEvent>& events, bool trim = false,
                      uint64_t tailMs = Renderer::kDefaultTailMs, uint64_t endTimeUs = 0) {
    Render render;
    const std::string path = folder_.File("out" + std::to_string(renders_++) + ".wav");
    WavWriter out;
    EXPECT_TRUE(out.Open(path)) << out.Error();
    Renderer renderer(events, trim, tailMs, endTimeUs);
    render.ok = renderer.Run(&out, &render.stats, &render.error);
    if (!render.ok) return render;
    EXPECT_TRUE(out.Finish()) << out.Error();
    render.file = ScratchFolder::Read(path);
    EXPECT_EQ(render.file.size(), 44 + 4 * render.stats.frames);
    for (size_t at = 44; at + 1 < render.file.size(); at += 2)
      render.frames.push_back(static_cast<int16_t>(render.file[at] | render.file[at + 1] << 8));
    return render;
  }

  ScratchFolder folder_;
  int renders_ = 0;
};

MidiEvent At(uint32_t ms, uint32_t message) { return {uint64_t{ms} * 1000, message, ms}; }

}  // namespace

TEST_F(RendererTest, DumpRecordedByTheSynthesizerRendersItsNotesAtTheirPitchesAndTimes) {
  // A live run: messages with chosen time stamps come in through a MIDI
  // input and the synthesizer records them into a dump file.
  const std::string dumpPath = folder_.File("dump0001.pvd");
  {
    platform::VirtualMidi midi({"Keys"}, {});
    platform::VirtualWaveOut wave;
    platform::InstallMidiApi(&midi);
    platform::InstallWaveOutApi(&wave);
    platform::FileHandle dump = platform::FileCreateNew(dumpPath.c_str());
    ASSERT_NE(dump, platform::kNoFile);
    {
      Synthesizer live(0, 0, -1, dump);
      ASSERT_TRUE(midi.WaitInputStarted(0, 20000));
      EXPECT_TRUE(midi.Inject(0, 0x00643C90, 1500));  // note on 60, channel 0
      EXPECT_TRUE(midi.Inject(0, 0x00403C80, 1800));  // note off 60
      EXPECT_TRUE(midi.Inject(0, 0x00504391, 2000));  // note on 67, channel 1
      EXPECT_TRUE(midi.Inject(0, 0x00504381, 2600));  // note off 67
      // A stop that comes before the input thread enters its loop skips the
      // loop, so wait until the four records are there.
      std::error_code ignored;
      for (int waited = 0; waited < 20000; ++waited) {
        if (std::filesystem::file_size(dumpPath, ignored) == 32) break;
        platform::SleepMs(1);
      }
    }
    platform::InstallWaveOutApi(nullptr);
    platform::InstallMidiApi(nullptr);
  }
  const Bytes recorded = ScratchFolder::Read(dumpPath);
  ASSERT_EQ(recorded.size(), 32u);
  DumpReader reader;
  reader.Parse(recorded.data(), recorded.size());

  Render render = RenderEvents(reader.Events());
  ASSERT_TRUE(render.ok) << render.error;
  // 1500 ms is frame 66150, in buffer period 64: the mix-ahead makes it
  // sound from the next boundary, 65 x 1024. The note-off at frame 79380
  // (period 77) starts the 2033-frame fade in the buffer the refill at the
  // end of that period renders, period 81.
  std::vector<Stretch> stretches = render.Stretches();
  ASSERT_EQ(stretches.size(), 2u);
  EXPECT_EQ(stretches[0].onset, 65u * 1024);
  EXPECT_EQ(stretches[0].end, 81u * 1024 + 2032);
  EXPECT_NEAR(stretches[0].hz, NoteHz(60), NoteHz(60) * 0.01);
  // 2000 ms: frame 88200, period 86. 2600 ms: frame 114660, period 111.
  EXPECT_EQ(stretches[1].onset, 87u * 1024);
  EXPECT_EQ(stretches[1].end, 115u * 1024 + 2032);
  EXPECT_NEAR(stretches[1].hz, NoteHz(67), NoteHz(67) * 0.01);
  // The file ends with the buffer in which the last voice ended.
  EXPECT_EQ(render.stats.frames, 117u * 1024);
  EXPECT_EQ(render.stats.lastMessageFrame, 114660u);
  EXPECT_EQ(render.stats.peakVoices, 1);
  EXPECT_EQ(render.stats.clippedFrames, 0u);
  EXPECT_FALSE(render.stats.tailCut);
}

TEST_F(RendererTest, SmfTempoChangesPlaceTheNotesWhereTheTempoMapSays) {
  // 96 ticks a quarter; 120 bpm, 240 bpm from tick 192 (1 s), 60 bpm from
  // tick 384 (1.5 s). Notes at ticks 96, 288 and 480: 0.5 s, 1.25 s, 2.5 s.
  TrackBytes tempo;
  tempo.Tempo(0, 500000).Tempo(192, 250000).Tempo(192, 1000000).End();
  TrackBytes notes;
  notes.Event(96, {0x90, 60, 100})
      .Event(24, {0x80, 60, 0})
      .Event(168, {0x90, 64, 100})
      .Event(24, {0x80, 64, 0})
      .Event(168, {0x90, 67, 100})
      .Event(24, {0x80, 67, 0})
      .End();
  Bytes smf = Smf(1, 96, {tempo, notes});
  SmfReader reader;
  ASSERT_TRUE(reader.Parse(smf.data(), smf.size())) << reader.Error();

  Render render = RenderEvents(reader.Events());
  ASSERT_TRUE(render.ok) << render.error;
  std::vector<Stretch> stretches = render.Stretches();
  ASSERT_EQ(stretches.size(), 3u);
  // Frames 22050, 55125 and 110250: periods 21, 53 and 107.
  EXPECT_EQ(stretches[0].onset, 22u * 1024);
  EXPECT_EQ(stretches[1].onset, 54u * 1024);
  EXPECT_EQ(stretches[2].onset, 108u * 1024);
  EXPECT_NEAR(stretches[0].hz, NoteHz(60), NoteHz(60) * 0.01);
  EXPECT_NEAR(stretches[1].hz, NoteHz(64), NoteHz(64) * 0.01);
  EXPECT_NEAR(stretches[2].hz, NoteHz(67), NoteHz(67) * 0.01);
}

TEST_F(RendererTest, TrimStartsAtTheFirstMessageAndLateStampsKeepTheirOrder) {
  // The fourth message is stamped before everything else, as a clock running
  // backwards would: it is handled right after the third, at its frame.
  std::vector<MidiEvent> events = {At(60000, 0x00643C90), At(60050, 0x00403C80),
                                   At(60500, 0x000079B5), At(59000, 0x00644090),
                                   At(61000, 0x00404080)};
  Render render = RenderEvents(events, true);
  ASSERT_TRUE(render.ok) << render.error;
  std::vector<Stretch> stretches = render.Stretches();
  ASSERT_EQ(stretches.size(), 2u);
  EXPECT_EQ(stretches[0].onset, 1024u);           // frame 0, heard from the next buffer
  EXPECT_EQ(stretches[0].end, 6u * 1024 + 2032);  // note-off at frame 2205, period 2
  // 500 ms is frame 22050, period 21: mixed ahead from the next boundary.
  EXPECT_EQ(stretches[1].onset, 22u * 1024);
  EXPECT_EQ(render.stats.lastMessageFrame, 44100u);
}

TEST_F(RendererTest, AnEndTimeAfterTheLastMessageKeepsTheSilenceUpToIt) {
  // A short note, then silence to 1 s: frame 44100 lies in period 43, and the
  // four queued buffers play out after it.
  std::vector<MidiEvent> events = {At(0, 0x00643C90), At(10, 0x00403C80)};
  Render render = RenderEvents(events, false, Renderer::kDefaultTailMs, 1000000);
  ASSERT_TRUE(render.ok) << render.error;
  EXPECT_EQ(render.stats.lastMessageFrame, 44100u);
  EXPECT_EQ(render.stats.frames, 48u * 1024);
  // Without messages the end time alone makes a silent file; trimmed, it is
  // frame 0.
  Render silent = RenderEvents({}, false, Renderer::kDefaultTailMs, 1000000);
  EXPECT_EQ(silent.stats.frames, 48u * 1024);
  EXPECT_EQ(std::count(silent.frames.begin(), silent.frames.end(), 0), 2 * 48 * 1024);
  EXPECT_EQ(RenderEvents({}, true, Renderer::kDefaultTailMs, 1000000).stats.frames, 5u * 1024);
}

TEST_F(RendererTest, TailCapEndsTheFileWithVoicesStillSounding) {
  std::vector<MidiEvent> events = {At(0, 0x00643C90), At(100, 0x00643E90)};
  Render render = RenderEvents(events, false, 50);
  ASSERT_TRUE(render.ok) << render.error;
  EXPECT_EQ(render.stats.frames, 4410u + 2205u);
  EXPECT_TRUE(render.stats.tailCut);
  EXPECT_EQ(render.stats.voicesAtEnd, 2);
  EXPECT_EQ(render.stats.peakVoices, 2);
}

TEST_F(RendererTest, EmptyInputIsAnEmptyFileAndTooLongAnInputIsRefused) {
  Render empty = RenderEvents({});
  ASSERT_TRUE(empty.ok) << empty.error;
  EXPECT_EQ(empty.stats.frames, 0u);
  EXPECT_EQ(empty.file.size(), 44u);

  // 24348 s is 1073746800 frames: past what the RIFF sizes can hold.
  Render tooLong = RenderEvents({At(0, 0x00643C90), At(24348000, 0x00403C80)});
  EXPECT_FALSE(tooLong.ok);
  EXPECT_EQ(tooLong.error,
            "the input lasts longer than a WAV file can hold (6 h 45 min at 44100 frames/s)");
}

TEST_F(RendererTest, DenseRendersAreByteIdenticalRunAfterRun) {
  // Chords on four channels every 30 ms with volume and sustain changes:
  // mix-ahead at every position in a buffer, removals in every refill, and
  // clipping where 100 voices add up.
  std::vector<MidiEvent> events;
  for (uint32_t step = 0; step < 100; ++step) {
    const uint32_t ms = step * 30 + (step * 7) % 23;
    for (uint32_t channel = 0; channel < 4; ++channel) {
      const uint32_t note = 40 + (step * 5 + channel * 12) % 48;
      events.push_back(At(ms, 0x90 | channel | note << 8 | (60 + step % 60) << 16));
      if (step >= 3)
        events.push_back(At(ms, 0x80 | channel | (40 + ((step - 3) * 5 + channel * 12) % 48) << 8));
    }
    if (step % 10 == 0)
      events.push_back(At(ms, 0xB0 | (step / 10 % 4) | 7 << 8 | (step % 128) << 16));
    if (step % 25 == 0) events.push_back(At(ms, 0xB1 | 64 << 8 | (step % 50 ? 0 : 127) << 16));
  }
  // Forty voices of one note in phase at full volume: well past full scale.
  events.push_back(At(3100, 0xB2 | 7 << 8 | 127 << 16));
  for (int i = 0; i < 40; ++i) events.push_back(At(3100, 0x92 | 50 << 8 | 127 << 16));
  Render first = RenderEvents(events);
  Render second = RenderEvents(events);
  ASSERT_TRUE(first.ok && second.ok) << first.error << second.error;
  EXPECT_EQ(first.stats.peakVoices, 52);
  EXPECT_EQ(first.stats.clippedFrames, 72619u);
  ASSERT_EQ(first.file.size(), second.file.size());
  EXPECT_TRUE(first.file == second.file);
  // The same digest from the Linux and the Windows build: a render is the
  // same file on both. (It changes, by design, whenever voice rendering,
  // mixing or the built-in tone change.)
  uint64_t digest = 0xCBF29CE484222325ull;  // FNV-1a
  for (uint8_t byte : first.file) digest = (digest ^ byte) * 0x100000001B3ull;
  EXPECT_EQ(digest, 0x92c2544ac2f480f0ull) << std::hex << digest;
}
