// Rendering cost in CPU time per voice-frame ("per_voice_frame", printed with
// an SI prefix: "420p" is 0.42 ns), each figure next to the plain
// frame-by-frame loop that defines the output (tests/unit/engine/
// VoiceReference.h):
//   refill/*      Mixer::RefillBuffer with 256 voices into a 1024-frame
//                 buffer; "cached": every voice plays the built-in tone (one
//                 512 KB sample), "large": each voice its own 4 MB sample, so
//                 nearly every frame comes from memory. On the AVX2 and the
//                 SSE2 path, with voices that play their sample once, and
//                 with every voice looping: loops of 0.2 s from 0.85 s into
//                 the sample (the median loop of a common General MIDI
//                 SoundFont), of 1024 frames (a wrap in nearly every call),
//                 and with large samples of 10 s (read from memory as the
//                 plain voices are); each voice starts at its own place in
//                 its loop
//   positions/*   the position stage: the plain loop's double arithmetic per
//                 frame, against what a refill call does instead (the search
//                 for the sample's end in the voice's offset table); making
//                 the table, once per voice, is timed per table
//   mix/*         the mixing stage, positions from the offset table: the
//                 plain 32-bit arithmetic per value, then SSE2 and AVX2
//   voice/*       one voice alone, playing and releasing
// The 256 voices play notes 40 to 87 against the samples' base note 64 at
// 44100 frames per second, so speeds range from a quarter to almost four.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "VoiceReference.h"
#include "engine/Instrument.h"
#include "engine/MixKernels.h"
#include "engine/Mixer.h"
#include "engine/OffsetTable.h"
#include "engine/PitchTable.h"
#include "engine/Voice.h"
#include "platform/NullDevices.h"
#include "platform/WaveOut.h"
#include "support/MixerPeer.h"

namespace {

constexpr int32_t kFrames = MIXER_BUFFER_FRAMES;
constexpr int32_t kVoices = MIXER_MAX_VOICES;
constexpr int32_t kLargeFrames = 1 << 20;  // 4 MB of left and right

void SetPerVoiceFrame(benchmark::State& state, int64_t voiceFrames) {
  state.counters["per_voice_frame"] = benchmark::Counter(
      static_cast<double>(voiceFrames),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The instruments of the 256 voices: one shared built-in tone, or 256
// distinct large samples of noise (made once, on first use).
std::vector<Instrument*>& Instruments(bool large) {
  static std::vector<Instrument*> cached, distinct;
  std::vector<Instrument*>& set = large ? distinct : cached;
  if (!set.empty()) return set;
  BuildPitchTable();
  uint32_t seed = 1;
  for (int32_t k = 0; k < (large ? kVoices : 1); ++k) {
    auto* instrument = new Instrument();
    if (!large) {
      instrument->MakeDefault();
    } else {
      Sample* sample = new Sample();
      sample->Allocate(kLargeFrames);
      for (int32_t i = 0; i < kLargeFrames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        sample->left[i] = static_cast<int16_t>(seed >> 16);
        sample->right[i] = static_cast<int16_t>(seed >> 8);
      }
      for (int32_t& entry : instrument->noteMap) entry = instrument->AddSample(sample);
    }
    set.push_back(instrument);
  }
  return set;
}

Instrument* InstrumentOf(bool large, int32_t voice) {
  std::vector<Instrument*>& set = Instruments(large);
  return set[static_cast<size_t>(voice) % set.size()];
}

constexpr int32_t kLoopStart = 37485;  // 0.85 s

// The same instruments, their samples (sharing the frames) looping
// loopFrames frames from kLoopStart on.
Instrument* LoopedInstrumentOf(bool large, int32_t voice, int32_t loopFrames) {
  static std::vector<std::pair<std::pair<bool, int32_t>, std::vector<Instrument*>>> made;
  std::vector<Instrument*>* set = nullptr;
  for (auto& entry : made)
    if (entry.first == std::make_pair(large, loopFrames)) set = &entry.second;
  if (!set) {
    made.push_back({{large, loopFrames}, {}});
    set = &made.back().second;
    for (Instrument* plain : Instruments(large)) {
      const Sample& original = *plain->samples[0];
      auto* looped = new Instrument();
      Sample* sample = new Sample();
      sample->SetFrames(original.Frames());
      sample->rate = original.rate;
      sample->baseNote = original.baseNote;
      sample->loopMode = SAMPLE_LOOP_CONTINUOUS;
      sample->loopStart = kLoopStart;
      sample->loopEnd = kLoopStart + loopFrames - 1;
      for (int32_t& entry : looped->noteMap) entry = looped->AddSample(sample);
      set->push_back(looped);
    }
  }
  return (*set)[static_cast<size_t>(voice) % set->size()];
}

int32_t NoteOf(int32_t voice) { return 40 + voice % 48; }

// Positions stay where the longest step of the fastest voice still fits.
int32_t RewindLimit(bool large) { return (large ? kLargeFrames : 0x20000) - 4 * kFrames - 8; }

// Spread the voices over their samples, as notes started at different times.
int32_t StartOf(bool large, int32_t voice) {
  return static_cast<int32_t>((static_cast<int64_t>(voice) * 7919) % (RewindLimit(large) / 2));
}

// loopFrames 0: voices that play their sample once.
void Refill(benchmark::State& state, bool large, MixPath path, int32_t loopFrames) {
  if (!UseMixPath(path)) {
    state.SkipWithError("this processor cannot run that path");
    return;
  }
  // One device that takes buffers and never plays them, so the refill is
  // measured alone, on the calling thread; nothing to mix ahead.
  platform::NullWaveOutApi device;
  device.devices.names = {""};
  device.AcceptOpens(3100);
  platform::InstallWaveOutApi(&device);
  auto* mixer = new Mixer(0, MixerThread::kCaller);
  mixer->DispatchQueued();
  mixer->Lock();
  for (int32_t k = 0; k < kVoices; ++k) {
    Instrument* instrument =
        loopFrames ? LoopedInstrumentOf(large, k, loopFrames) : InstrumentOf(large, k);
    Voice* voice = mixer->StartVoice(NoteOf(k), k % 16, 100, 100, instrument);
    voice->position = loopFrames ? kLoopStart + StartOf(large, k) % loopFrames : StartOf(large, k);
  }
  mixer->Unlock();
  int32_t buffer = 0;
  for (auto _ : state) {
    MixerPeer::RefillBuffer(*mixer, 1, MixerPeer::Header(*mixer, buffer));
    buffer = (buffer + 1) % MIXER_BUFFER_COUNT;
    state.PauseTiming();
    if (mixer->VoiceCount() != kVoices) state.SkipWithError("a voice ended");
    for (int32_t k = 0; k < mixer->VoiceCount(); ++k)
      if (mixer->VoiceAt(k)->position > RewindLimit(large)) mixer->VoiceAt(k)->position = 0;
    state.ResumeTiming();
  }
  SetPerVoiceFrame(state, int64_t{kVoices} * kFrames);
  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();
  delete mixer;
  platform::InstallWaveOutApi(nullptr);
  UseMixPath(BestMixPath());
}

// The same 256 voices, the same refill order, through the plain loop.
void RefillPlain(benchmark::State& state, bool large) {
  std::vector<Voice> voices;
  for (int32_t k = 0; k < kVoices; ++k) {
    voices.emplace_back(NoteOf(k), k % 16, 100, 100, InstrumentOf(large, k));
    voices.back().position = StartOf(large, k);
  }
  std::vector<int16_t> buffer(2 * kFrames);
  for (auto _ : state) {
    std::memset(buffer.data(), 0, buffer.size() * sizeof(int16_t));
    for (int32_t k = kVoices - 1; k >= 0; --k) RenderReference(voices[k], buffer.data(), kFrames);
    benchmark::DoNotOptimize(buffer.data());
    state.PauseTiming();
    for (Voice& voice : voices)
      if (voice.position > RewindLimit(large)) voice.position = 0;
    state.ResumeTiming();
  }
  SetPerVoiceFrame(state, int64_t{kVoices} * kFrames);
}

double SpeedOf(int32_t voice) { return 44100.0 * PitchFactor(NoteOf(voice) - 64); }

void PositionsPlain(benchmark::State& state) {
  BuildPitchTable();
  std::vector<int32_t> at(kFrames);
  for (auto _ : state) {
    for (int32_t k = 0; k < kVoices; ++k) {
      const double speed = SpeedOf(k);
      const int32_t start = StartOf(false, k);
      for (int32_t i = 0; i < kFrames; ++i) at[i] = start + OffsetAt(speed, i);
      benchmark::DoNotOptimize(at.data());
      benchmark::ClobberMemory();
    }
  }
  SetPerVoiceFrame(state, int64_t{kVoices} * kFrames);
}

std::vector<OffsetTable>& Tables() {
  static std::vector<OffsetTable> tables = [] {
    BuildPitchTable();
    std::vector<OffsetTable> made(kVoices);
    for (int32_t k = 0; k < kVoices; ++k) made[k].Build(SpeedOf(k));
    return made;
  }();
  return tables;
}

void PositionsTable(benchmark::State& state) {
  std::vector<OffsetTable>& tables = Tables();
  for (auto _ : state) {
    for (int32_t k = 0; k < kVoices; ++k) {
      int32_t playing = tables[k].FramesBefore(StartOf(false, k), 0x20000, kFrames);
      benchmark::DoNotOptimize(playing);
    }
  }
  SetPerVoiceFrame(state, int64_t{kVoices} * kFrames);
}

void TableBuild(benchmark::State& state) {
  std::vector<OffsetTable>& tables = Tables();
  int32_t k = 0;
  for (auto _ : state) {
    tables[k].Build(SpeedOf(k));
    benchmark::DoNotOptimize(tables[k].base);
    k = (k + 1) % kVoices;
  }
}

void Mix(benchmark::State& state, MixPath path) {
  if (!UseMixPath(path)) {
    state.SkipWithError("this processor cannot run that path");
    return;
  }
  std::vector<OffsetTable>& tables = Tables();
  const Sample* sample = InstrumentOf(false, 0)->samples[0].get();
  std::vector<int16_t> buffer(2 * kFrames);
  for (auto _ : state) {
    for (int32_t k = kVoices - 1; k >= 0; --k) {
      // What the refill asks for ahead of each voice (Voice::Prefetch).
      if (k > 0) {
        __builtin_prefetch(tables[k - 1].base);
        __builtin_prefetch(tables[k - 1].delta);
        __builtin_prefetch(sample->left + StartOf(false, k - 1));
        __builtin_prefetch(sample->right + StartOf(false, k - 1));
      }
      MixByTable(buffer.data(), sample->left, sample->right, sample->length, StartOf(false, k),
                 tables[k], 0, kFrames, 78);
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  SetPerVoiceFrame(state, int64_t{kVoices} * kFrames);
  UseMixPath(BestMixPath());
}

void VoiceAlone(benchmark::State& state, bool releasing) {
  Instrument* instrument = InstrumentOf(false, 0);
  std::vector<int16_t> buffer(2 * kFrames, 0);
  Voice voice(67, 0, 127, 100, instrument);
  for (auto _ : state) {
    if (voice.position > 100000) voice.position = 0;
    if (releasing) {
      voice.state = VOICE_RELEASING;
      voice.releaseCounter = 2048;
      voice.velocity = 127;
    }
    voice.Render(buffer.data(), kFrames);
    benchmark::DoNotOptimize(buffer.data());
  }
  SetPerVoiceFrame(state, kFrames);
}

const char* PathName(MixPath path) {
  return path == MixPath::kAvx2 ? "avx2" : path == MixPath::kSse2 ? "sse2" : "plain";
}

}  // namespace

int main(int argc, char** argv) {
  for (bool large : {false, true}) {
    const std::string samples = large ? "large" : "cached";
    benchmark::RegisterBenchmark(("refill/" + samples + "/plain loop").c_str(), RefillPlain, large)
        ->Unit(benchmark::kMillisecond);
    for (MixPath path : {MixPath::kAvx2, MixPath::kSse2}) {
      const std::string engine = std::string("/engine (") + PathName(path) + ")";
      const struct {
        int32_t frames;
        const char* name;
      } loops[] = {{0, ""},
                   {8820, ", loops of 0.2 s"},
                   {1024, ", loops of 1024 frames"},
                   {441000, ", loops of 10 s"}};
      for (const auto& loop : loops) {
        if (loop.frames == 441000 && !large) continue;  // longer than the tone
        benchmark::RegisterBenchmark(("refill/" + samples + engine + loop.name).c_str(), Refill,
                                     large, path, loop.frames)
            ->Unit(benchmark::kMillisecond)
            // With --benchmark_repetitions, the best run beside the median:
            // on a shared machine the other builds only ever slow a run down.
            ->ComputeStatistics("min", [](const std::vector<double>& runs) {
              return *std::min_element(runs.begin(), runs.end());
            });
      }
    }
  }
  benchmark::RegisterBenchmark("positions/plain loop", PositionsPlain)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("positions/engine (end search)", PositionsTable)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("positions/engine (table, once per voice)", TableBuild);
  for (MixPath path : {MixPath::kScalar, MixPath::kSse2, MixPath::kAvx2})
    benchmark::RegisterBenchmark(
        (std::string("mix/") + (path == MixPath::kScalar ? "plain loop" : PathName(path))).c_str(),
        Mix, path)
        ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("voice/playing", VoiceAlone, false);
  benchmark::RegisterBenchmark("voice/releasing", VoiceAlone, true);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
