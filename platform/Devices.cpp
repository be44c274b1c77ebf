#include <atomic>
#include <cstdio>

#include "platform/Midi.h"
#include "platform/WaveOut.h"

namespace platform {

namespace {
std::atomic<WaveOutApi*> g_waveOutApi{nullptr};
std::atomic<MidiApi*> g_midiApi{nullptr};
}  // namespace

void WaveOutApi::GetErrorText(uint32_t result, char* text, size_t size) {
  const char* words = "unknown error";
  switch (result) {
    case kWaveOk:
      words = "no error";
      break;
    case kWaveError:
      words = "unspecified error";
      break;
    case kWaveBadDeviceId:
      words = "no such device";
      break;
    case kWaveInvalidHandle:
      words = "invalid device handle";
      break;
    case kWaveNoMemory:
      words = "out of memory";
      break;
    case kWaveStillPlaying:
      words = "buffers are still queued";
      break;
    case kWaveUnprepared:
      words = "the buffer is not prepared";
      break;
    default:
      break;
  }
  if (size > 0) std::snprintf(text, size, "%s", words);
}

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
