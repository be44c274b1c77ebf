#include "platform/NullDevices.h"

#include <cstdlib>
#include <cstring>

#include "platform/Window.h"

namespace platform {

uint32_t NullDeviceList::Name(uint32_t id, char name[32], uint32_t ok, uint32_t bad) const {
  if (id >= names.size() || failing.count(id)) return bad;
  std::strncpy(name, names[id].c_str(), 31);
  name[31] = 0;
  return ok;
}

uint32_t NullMidiApi::InGetDeviceName(uint32_t deviceId, char name[32]) {
  return inputs.Name(deviceId, name, kMidiOk, kMidiBadDeviceId);
}

uint32_t NullMidiApi::InOpen(MidiInHandle* device, uint32_t, MidiInCallback, uintptr_t) {
  *device = 0;
  return kMidiBadDeviceId;
}

uint32_t NullMidiApi::InStart(MidiInHandle) { return kMidiInvalidHandle; }
uint32_t NullMidiApi::InReset(MidiInHandle) { return kMidiInvalidHandle; }
uint32_t NullMidiApi::InClose(MidiInHandle) { return kMidiInvalidHandle; }

uint32_t NullMidiApi::OutGetDeviceName(uint32_t deviceId, char name[32]) {
  return outputs.Name(deviceId, name, kMidiOk, kMidiBadDeviceId);
}

uint32_t NullMidiApi::OutOpen(MidiOutHandle* device, uint32_t) {
  *device = 0;
  return kMidiBadDeviceId;
}

uint32_t NullMidiApi::OutShortMsg(MidiOutHandle, uint32_t) { return kMidiInvalidHandle; }
uint32_t NullMidiApi::OutClose(MidiOutHandle) { return kMidiInvalidHandle; }

void NullWaveOutApi::AcceptOpens(uint32_t frames) {
  accepting_ = true;
  position_ = frames;
}

uint32_t NullWaveOutApi::GetDeviceName(uint32_t deviceId, char name[32]) {
  return devices.Name(deviceId, name, kWaveOk, kWaveBadDeviceId);
}

uint32_t NullWaveOutApi::Open(WaveOutHandle* device, uint32_t, WindowHandle window) {
  if (!accepting_) {
    *device = 0;
    return kWaveBadDeviceId;
  }
  *device = 1;
  PostToWindow(window, kMessageWaveOutOpen, 1, 0);
  return kWaveOk;
}

uint32_t NullWaveOutApi::PrepareHeader(WaveOutHandle, WaveHeader*) { return DeviceResult(); }
uint32_t NullWaveOutApi::UnprepareHeader(WaveOutHandle, WaveHeader*) { return DeviceResult(); }
uint32_t NullWaveOutApi::Write(WaveOutHandle, WaveHeader*) { return DeviceResult(); }

uint32_t NullWaveOutApi::GetPosition(WaveOutHandle, uint32_t* frames, bool* isSamples) {
  *frames = position_;
  *isSamples = accepting_;
  return DeviceResult();
}

uint32_t NullWaveOutApi::Reset(WaveOutHandle) { return DeviceResult(); }
uint32_t NullWaveOutApi::Close(WaveOutHandle) { return DeviceResult(); }

MemoryHandle NullWaveOutApi::AllocBufferMemory(uint32_t bytes) {
  return reinterpret_cast<MemoryHandle>(std::calloc(1, bytes));
}

void* NullWaveOutApi::LockBufferMemory(MemoryHandle memory) {
  return reinterpret_cast<void*>(memory);
}

void NullWaveOutApi::UnlockBufferMemory(MemoryHandle) {}

void NullWaveOutApi::FreeBufferMemory(MemoryHandle memory) {
  std::free(reinterpret_cast<void*>(memory));
}

}  // namespace platform
