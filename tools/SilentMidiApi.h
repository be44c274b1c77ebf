// A MIDI backend without devices: every open fails, nothing is ever received
// or sent. A render installs it so that the synthesizer's MIDI input thread
// runs idle without touching the system's MIDI devices.
#pragma once
#include "platform/Midi.h"

class SilentMidiApi : public platform::MidiApi {
 public:
  uint32_t InGetNumDevs() override { return 0; }
  uint32_t InGetDeviceName(uint32_t, char[32]) override { return platform::kMidiBadDeviceId; }
  uint32_t InOpen(platform::MidiInHandle* device, uint32_t, platform::MidiInCallback,
                  uintptr_t) override {
    *device = 0;
    return platform::kMidiBadDeviceId;
  }
  uint32_t InStart(platform::MidiInHandle) override { return platform::kMidiInvalidHandle; }
  uint32_t InReset(platform::MidiInHandle) override { return platform::kMidiInvalidHandle; }
  uint32_t InClose(platform::MidiInHandle) override { return platform::kMidiInvalidHandle; }
  uint32_t OutGetNumDevs() override { return 0; }
  uint32_t OutGetDeviceName(uint32_t, char[32]) override { return platform::kMidiBadDeviceId; }
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
