// Placeholder until the RtAudio backend lands: no devices, every open fails.
#include "platform/WaveOut.h"

#include <cstdlib>

namespace platform {

namespace {
class NoWaveOut : public WaveOutApi {
 public:
  uint32_t GetNumDevs() override { return 0; }
  uint32_t GetDeviceName(uint32_t, char name[32]) override { name[0] = 0; return kWaveBadDeviceId; }
  uint32_t Open(WaveOutHandle* device, uint32_t, WindowHandle) override { *device = 0; return kWaveBadDeviceId; }
  uint32_t PrepareHeader(WaveOutHandle, WaveHeader*) override { return kWaveInvalidHandle; }
  uint32_t UnprepareHeader(WaveOutHandle, WaveHeader*) override { return kWaveInvalidHandle; }
  uint32_t Write(WaveOutHandle, WaveHeader*) override { return kWaveInvalidHandle; }
  uint32_t GetPosition(WaveOutHandle, uint32_t* frames, bool* isSamples) override { *frames = 0; *isSamples = false; return kWaveInvalidHandle; }
  uint32_t Reset(WaveOutHandle) override { return kWaveInvalidHandle; }
  uint32_t Close(WaveOutHandle) override { return kWaveInvalidHandle; }
  MemoryHandle AllocBufferMemory(uint32_t bytes) override { return reinterpret_cast<MemoryHandle>(std::calloc(1, bytes)); }
  void* LockBufferMemory(MemoryHandle memory) override { return reinterpret_cast<void*>(memory); }
  void UnlockBufferMemory(MemoryHandle) override {}
  void FreeBufferMemory(MemoryHandle memory) override { std::free(reinterpret_cast<void*>(memory)); }
};
}  // namespace

WaveOutApi& NativeWaveOutApi() {
  static NoWaveOut api;
  return api;
}

}  // namespace platform
