// Enumeration-only stand-ins for the wave and MIDI device APIs: named devices
// whose capability query may fail. Nothing opens: a synthesizer started on
// them runs without its devices.
#pragma once
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/Midi.h"
#include "platform/WaveOut.h"

struct DeviceSet {
  std::vector<std::string> names;
  std::set<uint32_t> failing;

  uint32_t Count() const { return static_cast<uint32_t>(names.size()); }
  uint32_t Name(uint32_t id, char name[32], uint32_t ok, uint32_t bad) const {
    if (id >= names.size() || failing.count(id)) return bad;
    std::strncpy(name, names[id].c_str(), 31);
    name[31] = 0;
    return ok;
  }
};

class ListedWaveOut : public platform::WaveOutApi {
 public:
  DeviceSet devices;
  uint32_t GetNumDevs() override { return devices.Count(); }
  uint32_t GetDeviceName(uint32_t id, char name[32]) override {
    return devices.Name(id, name, platform::kWaveOk, platform::kWaveBadDeviceId);
  }
  uint32_t Open(platform::WaveOutHandle* device, uint32_t, platform::WindowHandle) override {
    *device = 0;
    return platform::kWaveBadDeviceId;
  }
  uint32_t PrepareHeader(platform::WaveOutHandle, platform::WaveHeader*) override {
    return platform::kWaveInvalidHandle;
  }
  uint32_t UnprepareHeader(platform::WaveOutHandle, platform::WaveHeader*) override {
    return platform::kWaveInvalidHandle;
  }
  uint32_t Write(platform::WaveOutHandle, platform::WaveHeader*) override {
    return platform::kWaveInvalidHandle;
  }
  uint32_t GetPosition(platform::WaveOutHandle, uint32_t* frames, bool* isSamples) override {
    *frames = 0;
    *isSamples = false;
    return platform::kWaveInvalidHandle;
  }
  uint32_t Reset(platform::WaveOutHandle) override { return platform::kWaveInvalidHandle; }
  uint32_t Close(platform::WaveOutHandle) override { return platform::kWaveInvalidHandle; }
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
};

class ListedMidi : public platform::MidiApi {
 public:
  DeviceSet inputs;
  DeviceSet outputs;
  uint32_t InGetNumDevs() override { return inputs.Count(); }
  uint32_t InGetDeviceName(uint32_t id, char name[32]) override {
    return inputs.Name(id, name, platform::kMidiOk, platform::kMidiBadDeviceId);
  }
  uint32_t InOpen(platform::MidiInHandle* device, uint32_t, platform::MidiInCallback,
                  uintptr_t) override {
    *device = 0;
    return platform::kMidiBadDeviceId;
  }
  uint32_t InStart(platform::MidiInHandle) override { return platform::kMidiInvalidHandle; }
  uint32_t InReset(platform::MidiInHandle) override { return platform::kMidiInvalidHandle; }
  uint32_t InClose(platform::MidiInHandle) override { return platform::kMidiInvalidHandle; }
  uint32_t OutGetNumDevs() override { return outputs.Count(); }
  uint32_t OutGetDeviceName(uint32_t id, char name[32]) override {
    return outputs.Name(id, name, platform::kMidiOk, platform::kMidiBadDeviceId);
  }
  uint32_t OutOpen(platform::MidiOutHandle* device, uint32_t) override {
    *device = 0;
    return platform::kMidiBadDeviceId;
  }
  uint32_t OutShortMsg(platform::MidiOutHandle, uint32_t) override {
    return platform::kMidiInvalidHandle;
  }
  uint32_t OutClose(platform::MidiOutHandle) override { return platform::kMidiInvalidHandle; }
  int LastError() override { return 0; }
};

// Installs the stand-ins for the lifetime of a test.
struct InstalledDevices {
  ListedWaveOut wave;
  ListedMidi midi;
  InstalledDevices() {
    platform::InstallWaveOutApi(&wave);
    platform::InstallMidiApi(&midi);
  }
  ~InstalledDevices() {
    platform::InstallWaveOutApi(nullptr);
    platform::InstallMidiApi(nullptr);
  }
};
