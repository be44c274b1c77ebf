// MIDI input and output devices, as midiIn and midiOut present them.
// Input: opened with a callback function that the system calls on a thread of
// its choosing with kMidiInOpen, kMidiInClose and kMidiInData (param1 the
// short message word, param2 its time stamp in milliseconds since the input
// was started). Output: short messages as 32-bit words.
//
// The calls go to the installed MidiApi: the native backend (WINMM on
// Windows; RtMidi over the ALSA sequencer and JACK on Linux) unless a test
// installed virtual ports.
#pragma once
#include <cstdint>

namespace platform {

using MidiInHandle = uintptr_t;   // 0: none
using MidiOutHandle = uintptr_t;  // 0: none

// Callback messages (MIM_*).
constexpr uint32_t kMidiInOpen = 0x3C1;
constexpr uint32_t kMidiInClose = 0x3C2;
constexpr uint32_t kMidiInData = 0x3C3;
constexpr uint32_t kMidiInLongData = 0x3C4;
constexpr uint32_t kMidiInError = 0x3C5;

// Results (MMRESULT values).
constexpr uint32_t kMidiOk = 0;
constexpr uint32_t kMidiError = 1;
constexpr uint32_t kMidiBadDeviceId = 2;
constexpr uint32_t kMidiAllocated = 4;
constexpr uint32_t kMidiInvalidHandle = 5;

// The MidiInProc calling convention of 64-bit Windows.
using MidiInCallback = void (*)(MidiInHandle device, uint32_t message, uintptr_t instance,
                                uintptr_t param1, uintptr_t param2);

class MidiApi {
 public:
  virtual ~MidiApi() = default;
  virtual uint32_t InGetNumDevs() = 0;
  virtual uint32_t InGetDeviceName(uint32_t deviceId, char name[32]) = 0;
  virtual uint32_t InOpen(MidiInHandle* device, uint32_t deviceId, MidiInCallback callback,
                          uintptr_t instance) = 0;
  virtual uint32_t InStart(MidiInHandle device) = 0;
  virtual uint32_t InReset(MidiInHandle device) = 0;
  virtual uint32_t InClose(MidiInHandle device) = 0;

  virtual uint32_t OutGetNumDevs() = 0;
  virtual uint32_t OutGetDeviceName(uint32_t deviceId, char name[32]) = 0;
  virtual uint32_t OutOpen(MidiOutHandle* device, uint32_t deviceId) = 0;
  virtual uint32_t OutShortMsg(MidiOutHandle device, uint32_t message) = 0;
  virtual uint32_t OutClose(MidiOutHandle device) = 0;
  // The error code that accompanies the last failure (GetLastError on
  // Windows; the backend's own number elsewhere).
  virtual int LastError() = 0;
};

MidiApi& NativeMidiApi();
// Installs another backend (a test's virtual ports); null restores the native one.
void InstallMidiApi(MidiApi* api);
MidiApi& CurrentMidiApi();

}  // namespace platform
