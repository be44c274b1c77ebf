// The null devices: a wave output and a MIDI backend that reach no hardware,
// portable, installed with InstallWaveOutApi / InstallMidiApi. pelvane-render
// runs its synthesizer's MIDI side on NullMidiApi; the benchmarks refill on an
// accepting NullWaveOutApi; the tests list named devices on both.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/Midi.h"
#include "platform/WaveOut.h"

namespace platform {

// The devices a null backend lists: their names, and the ids whose name query
// fails (a device that went away between the count and the query).
struct NullDeviceList {
  std::vector<std::string> names;
  std::set<uint32_t> failing;

  uint32_t Count() const { return static_cast<uint32_t>(names.size()); }
  // Copies the name (at most 31 characters) and returns ok, or returns bad
  // for an id past the list or in failing.
  uint32_t Name(uint32_t id, char name[32], uint32_t ok, uint32_t bad) const;
};

// Lists its devices and opens none: a synthesizer started on it runs without
// MIDI. Nothing is ever received or sent.
class NullMidiApi : public MidiApi {
 public:
  NullDeviceList inputs;
  NullDeviceList outputs;

  uint32_t InGetNumDevs() override { return inputs.Count(); }
  uint32_t InGetDeviceName(uint32_t deviceId, char name[32]) override;
  uint32_t InOpen(MidiInHandle* device, uint32_t deviceId, MidiInCallback callback,
                  uintptr_t instance) override;
  uint32_t InStart(MidiInHandle device) override;
  uint32_t InReset(MidiInHandle device) override;
  uint32_t InClose(MidiInHandle device) override;
  uint32_t OutGetNumDevs() override { return outputs.Count(); }
  uint32_t OutGetDeviceName(uint32_t deviceId, char name[32]) override;
  uint32_t OutOpen(MidiOutHandle* device, uint32_t deviceId) override;
  uint32_t OutShortMsg(MidiOutHandle device, uint32_t message) override;
  uint32_t OutClose(MidiOutHandle device) override;
  int LastError() override { return 0; }
};

// Lists its devices and, as made, opens none: a synthesizer started on it
// runs without sound. Once AcceptOpens is called it opens any device (one
// handle, the open posted to the window), takes every buffer and never plays
// or returns one, and reports a fixed play position in samples: the mixer's
// refill can then be driven, and measured, alone on the caller's thread.
// Buffer memory comes from the heap, zeroed.
class NullWaveOutApi : public WaveOutApi {
 public:
  NullDeviceList devices;

  // Thread: ui, before the open. From now on opens succeed and the position
  // is frames.
  void AcceptOpens(uint32_t frames);

  uint32_t GetNumDevs() override { return devices.Count(); }
  uint32_t GetDeviceName(uint32_t deviceId, char name[32]) override;
  uint32_t Open(WaveOutHandle* device, uint32_t deviceId, WindowHandle window) override;
  uint32_t PrepareHeader(WaveOutHandle device, WaveHeader* header) override;
  uint32_t UnprepareHeader(WaveOutHandle device, WaveHeader* header) override;
  uint32_t Write(WaveOutHandle device, WaveHeader* header) override;
  uint32_t GetPosition(WaveOutHandle device, uint32_t* frames, bool* isSamples) override;
  uint32_t Reset(WaveOutHandle device) override;
  uint32_t Close(WaveOutHandle device) override;
  MemoryHandle AllocBufferMemory(uint32_t bytes) override;
  void* LockBufferMemory(MemoryHandle memory) override;
  void UnlockBufferMemory(MemoryHandle memory) override;
  void FreeBufferMemory(MemoryHandle memory) override;

 private:
  // The result of every call on a device: ok once opens are accepted, else
  // kWaveInvalidHandle (no device was ever opened).
  uint32_t DeviceResult() const { return accepting_ ? kWaveOk : kWaveInvalidHandle; }

  bool accepting_ = false;
  uint32_t position_ = 0;
};

}  // namespace platform
