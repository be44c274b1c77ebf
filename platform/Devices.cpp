#include <atomic>

#include "platform/Midi.h"
#include "platform/WaveOut.h"

namespace platform {

namespace {
std::atomic<WaveOutApi*> g_waveOutApi{nullptr};
std::atomic<MidiApi*> g_midiApi{nullptr};
}  // namespace

void InstallWaveOutApi(WaveOutApi* api) { g_waveOutApi.store(api); }

WaveOutApi& CurrentWaveOutApi() {
  WaveOutApi* api = g_waveOutApi.load();
  return api ? *api : NativeWaveOutApi();
}

void InstallMidiApi(MidiApi* api) { g_midiApi.store(api); }

MidiApi& CurrentMidiApi() {
  MidiApi* api = g_midiApi.load();
  return api ? *api : NativeMidiApi();
}

}  // namespace platform
