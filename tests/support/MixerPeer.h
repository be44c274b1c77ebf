// The tests' and benchmarks' view of a Mixer's inner state, which the
// program never reaches: its buffers, its thread, its device, its lock and
// its voice slots.
#pragma once
#include "engine/Mixer.h"

struct MixerPeer {
  static int16_t* BufferData(Mixer& mixer, int32_t index) { return mixer.bufferData[index]; }
  static platform::WaveHeader* Header(Mixer& mixer, int32_t index) { return &mixer.headers[index]; }
  static int32_t NextBuffer(const Mixer& mixer) { return mixer.nextBuffer; }
  static platform::Thread& Thread(Mixer& mixer) { return mixer.thread; }
  static platform::WaveOutHandle WaveOut(const Mixer& mixer) { return mixer.waveOut; }
  static uint32_t DeviceId(const Mixer& mixer) { return mixer.deviceId; }
  static platform::Lock& Lock(Mixer& mixer) { return mixer.lock; }
  // Mixer thread (or the caller's, for MixerThread::kCaller).
  static void RefillBuffer(Mixer& mixer, platform::WaveOutHandle device,
                           platform::WaveHeader* header) {
    mixer.RefillBuffer(device, header);
  }
  // Caller holds the lock. Frees every registered voice at once.
  static void DropVoices(Mixer& mixer) {
    for (int32_t k = 0; k < mixer.voiceCount; ++k) {
      mixer.voicePool.Free(mixer.voices[k]);
      mixer.voices[k] = nullptr;
    }
    mixer.voiceCount = 0;
  }
};
