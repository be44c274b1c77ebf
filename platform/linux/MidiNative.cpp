// Placeholder until the RtMidi backend lands: no devices.
#include "platform/Midi.h"

namespace platform {

namespace {
class NoMidi : public MidiApi {
 public:
  uint32_t InGetNumDevs() override { return 0; }
  uint32_t InGetDeviceName(uint32_t, char name[32]) override { name[0] = 0; return kMidiBadDeviceId; }
  uint32_t InOpen(MidiInHandle* device, uint32_t, MidiInCallback, uintptr_t) override { *device = 0; return kMidiBadDeviceId; }
  uint32_t InStart(MidiInHandle) override { return kMidiInvalidHandle; }
  uint32_t InReset(MidiInHandle) override { return kMidiInvalidHandle; }
  uint32_t InClose(MidiInHandle) override { return kMidiInvalidHandle; }
  uint32_t OutGetNumDevs() override { return 0; }
  uint32_t OutGetDeviceName(uint32_t, char name[32]) override { name[0] = 0; return kMidiBadDeviceId; }
  uint32_t OutOpen(MidiOutHandle* device, uint32_t) override { *device = 0; return kMidiBadDeviceId; }
  uint32_t OutShortMsg(MidiOutHandle, uint32_t) override { return kMidiInvalidHandle; }
  uint32_t OutClose(MidiOutHandle) override { return kMidiInvalidHandle; }
  int LastError() override { return 0; }
};
}  // namespace

MidiApi& NativeMidiApi() {
  static NoMidi api;
  return api;
}

}  // namespace platform
