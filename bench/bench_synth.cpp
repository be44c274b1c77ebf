// Synthesizer::HandleMidiMessage throughput with an echo device and a real
// dump file, and how long a Stop takes.
//
// The echo goes to a device that only counts (the driver's own cost is not
// ours to measure); the dump file is a real file in a temporary folder; the
// wave device is the virtual one with its four buffers queued, so a note-on
// pays for its mix-ahead into three buffers. Log lines go to the debugger
// output as always; run with 2>/dev/null to keep the terminal quiet.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/InstrumentTable.h"
#include "platform/Midi.h"
#include "support/MixerPeer.h"
#include "support/doubles/VirtualMidi.h"
#include "support/doubles/VirtualWaveOut.h"
#include "synth/DumpFile.h"
#include "synth/Synthesizer.h"

namespace {

// An echo device that accepts everything and keeps nothing.
class CountingMidi : public platform::VirtualMidi {
 public:
  CountingMidi() : VirtualMidi({"Keys"}, {"Echo"}) {}
  uint32_t OutShortMsg(platform::MidiOutHandle, uint32_t) override {
    sends += 1;
    return platform::kMidiOk;
  }
  uint64_t sends = 0;
};

struct Rig {
  Rig() {
    folder =
        std::filesystem::temp_directory_path() / ("pelvane-bench-" + std::to_string(std::rand()));
    std::filesystem::create_directories(folder);
    previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    platform::InstallMidiApi(&midi);
    platform::InstallWaveOutApi(&wave);
    if (!InstrumentTable[DEFAULT_INSTRUMENT_SLOT]) {
      InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = new Instrument;
      InstrumentTable[DEFAULT_INSTRUMENT_SLOT]->MakeDefault();
    }
  }
  ~Rig() {
    platform::InstallWaveOutApi(nullptr);
    platform::InstallMidiApi(nullptr);
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
  }
  std::filesystem::path folder, previous;
  CountingMidi midi;
  platform::VirtualWaveOut wave;
};

// Forgets the voices the benchmark started, as refills would, so the voice
// list never fills up. The voices live in the mixer's pool and go back to it.
void DropVoices(Synthesizer& synth) {
  synth.GetMixer()->Lock();
  MixerPeer::DropVoices(*synth.GetMixer());
  synth.GetMixer()->Unlock();
}

// Controller 7 on a channel with 16 voices: echo, record, volume loop; no log line.
void BM_HandleControlChange(benchmark::State& state) {
  Rig rig;
  Synthesizer synth(0, 0, 0, CreateDumpFile());
  if (!rig.wave.WaitForWrites(4, 30000)) {
    state.SkipWithError("the buffers were not queued");
    return;
  }
  for (int note = 40; note < 56; ++note) synth.HandleMidiMessage(0x00640090u | note << 8, 0);
  uint32_t time = 0;
  for (auto _ : state) synth.HandleMidiMessage(0x004007B0u, time++);
  state.SetItemsProcessed(state.iterations());
  state.counters["echoed"] = static_cast<double>(rig.midi.sends);
}
BENCHMARK(BM_HandleControlChange);

// A note-on and its note-off: echo, record and log each; the note-on starts a
// voice and mixes it ahead into three buffers.
void BM_HandleNoteOnOff(benchmark::State& state) {
  Rig rig;
  Synthesizer synth(0, 0, 0, CreateDumpFile());
  if (!rig.wave.WaitForWrites(4, 30000)) {
    state.SkipWithError("the buffers were not queued");
    return;
  }
  uint32_t time = 0;
  int64_t pairs = 0;
  for (auto _ : state) {
    synth.HandleMidiMessage(0x00643C90u, time++);
    synth.HandleMidiMessage(0x00403C80u, time++);
    if (++pairs % 128 == 0) {
      state.PauseTiming();
      DropVoices(synth);
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_HandleNoteOnOff);

// The user-interface thread's Stop: from the first request to the closed dump
// file, with an echo device and the MIDI input open.
void BM_Stop(benchmark::State& state) {
  Rig rig;
  int runs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto* synth = new Synthesizer(0, 0, 0, CreateDumpFile());
    // Stop a running synthesizer: input started, four buffers queued.
    if (!rig.midi.WaitInputStarted(0, 30000) || !rig.wave.WaitForWrites(4 * ++runs, 30000))
      state.SkipWithError("the synthesizer did not start");
    state.ResumeTiming();
    delete synth;
  }
}
BENCHMARK(BM_Stop)->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
