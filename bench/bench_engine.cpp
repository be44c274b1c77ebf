// Rendering cost: Voice::Render per voice-frame, playing and releasing, and
// one full Mixer::RefillBuffer of 256 voices into a 1024-frame buffer (the
// budget is 0.6 ms of the 23.2 ms the buffer plays).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "engine/Instrument.h"
#include "engine/Mixer.h"
#include "engine/PitchTable.h"
#include "engine/Voice.h"
#include "platform/WaveOut.h"

namespace {

constexpr int32_t kFrames = MIXER_BUFFER_FRAMES;

Instrument& DefaultInstrument() {
  static Instrument* instrument = [] {
    BuildPitchTable();
    auto* made = new Instrument();
    made->MakeDefault();
    return made;
  }();
  return *instrument;
}

void SetPerVoiceFrame(benchmark::State& state, int64_t voiceFrames) {
  // CPU seconds per voice-frame, printed with an SI prefix ("860p" = 0.86 ns).
  state.counters["per_voice_frame"] = benchmark::Counter(
      static_cast<double>(voiceFrames),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A note a few semitones off the base note, so positions advance fractionally.
void BM_VoiceRenderPlaying(benchmark::State& state) {
  Instrument& instrument = DefaultInstrument();
  std::vector<int16_t> buffer(2 * kFrames, 0);
  Voice voice(67, 0, 100, 100, &instrument);
  for (auto _ : state) {
    if (voice.position > 100000) voice.position = 0;
    voice.Render(buffer.data(), kFrames);
    benchmark::DoNotOptimize(buffer.data());
  }
  SetPerVoiceFrame(state, kFrames);
}
BENCHMARK(BM_VoiceRenderPlaying);

void BM_VoiceRenderReleasing(benchmark::State& state) {
  Instrument& instrument = DefaultInstrument();
  std::vector<int16_t> buffer(2 * kFrames, 0);
  Voice voice(67, 0, 127, 100, &instrument);
  for (auto _ : state) {
    if (voice.position > 100000) voice.position = 0;
    voice.state = VOICE_RELEASING;
    voice.releaseCounter = 2048;
    voice.velocity = 127;
    voice.Render(buffer.data(), kFrames);
    benchmark::DoNotOptimize(buffer.data());
  }
  SetPerVoiceFrame(state, kFrames);
}
BENCHMARK(BM_VoiceRenderReleasing);

// A device that takes buffers and never plays them, so the refill is measured
// alone, on the calling thread.
class IdleWaveOut : public platform::WaveOutApi {
 public:
  uint32_t GetNumDevs() override { return 1; }
  uint32_t GetDeviceName(uint32_t, char name[32]) override {
    name[0] = 0;
    return platform::kWaveOk;
  }
  uint32_t Open(platform::WaveOutHandle* device, uint32_t, platform::WindowHandle window) override {
    *device = 1;
    platform::PostToWindow(window, platform::kMessageWaveOutOpen, 1, 0);
    return platform::kWaveOk;
  }
  uint32_t PrepareHeader(platform::WaveOutHandle, platform::WaveHeader*) override { return 0; }
  uint32_t UnprepareHeader(platform::WaveOutHandle, platform::WaveHeader*) override { return 0; }
  uint32_t Write(platform::WaveOutHandle, platform::WaveHeader* header) override {
    written += header != nullptr;
    return 0;
  }
  uint32_t GetPosition(platform::WaveOutHandle, uint32_t* frames, bool* isSamples) override {
    *frames = 3100;  // nothing to mix ahead
    *isSamples = true;
    return 0;
  }
  uint32_t Reset(platform::WaveOutHandle) override { return 0; }
  uint32_t Close(platform::WaveOutHandle) override { return 0; }
  platform::MemoryHandle AllocBufferMemory(uint32_t bytes) override {
    return reinterpret_cast<platform::MemoryHandle>(std::calloc(1, bytes));
  }
  void* LockBufferMemory(platform::MemoryHandle memory) override {
    return reinterpret_cast<void*>(memory);
  }
  void UnlockBufferMemory(platform::MemoryHandle) override {}
  void FreeBufferMemory(platform::MemoryHandle memory) override {
    std::free(reinterpret_cast<void*>(memory));
  }
  std::atomic<int> written{0};
};

void BM_MixerRefill256Voices(benchmark::State& state) {
  Instrument& instrument = DefaultInstrument();
  IdleWaveOut device;
  platform::InstallWaveOutApi(&device);
  Mixer* mixer = new Mixer(0);
  while (device.written.load() < MIXER_BUFFER_COUNT) platform::SleepMs(1);

  mixer->Lock();
  for (int32_t k = 0; k < MIXER_MAX_VOICES; ++k)
    mixer->StartVoice(40 + k % 48, k % 16, 100, 100, &instrument);
  mixer->Unlock();

  int32_t buffer = 0;
  for (auto _ : state) {
    mixer->RefillBuffer(1, &mixer->headers[buffer]);
    buffer = (buffer + 1) % MIXER_BUFFER_COUNT;
    state.PauseTiming();
    // Keep all 256 sounding: rewind before any reaches the sample's end.
    mixer->Lock();
    if (mixer->voiceCount != MIXER_MAX_VOICES) state.SkipWithError("a voice ended");
    for (int32_t k = 0; k < mixer->voiceCount; ++k)
      if (mixer->voices[k]->position > 60000) mixer->voices[k]->position = 0;
    mixer->Unlock();
    state.ResumeTiming();
  }
  SetPerVoiceFrame(state, int64_t{MIXER_MAX_VOICES} * kFrames);

  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();
  delete mixer;
  platform::InstallWaveOutApi(nullptr);
}
BENCHMARK(BM_MixerRefill256Voices)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
