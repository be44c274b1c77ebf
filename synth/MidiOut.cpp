#include "synth/MidiOut.h"

#include "log/Log.h"

MidiOut::MidiOut(int32_t echoDeviceId) : deviceId(echoDeviceId) {
  platform::MidiApi& api = platform::CurrentMidiApi();
  platform::MidiOutHandle opened = 0;
  uint32_t result = api.OutOpen(&opened, static_cast<uint32_t>(deviceId));
  if (result != platform::kMidiOk) {
    int lastError = api.LastError();
    // A failed open may still have written the out-parameter.
    opened = 0;
    LogFormat("MidiOut: cannot open MIDI out, error = %d, GLE = %d", static_cast<int>(result),
              lastError);
  }
  platform::LockGuard hold(handleLock_);
  device = opened;
}

MidiOut::~MidiOut() {
  bool open = false;
  {
    platform::LockGuard hold(handleLock_);
    open = device != 0;
  }
  if (open) Shutdown();
}

uint32_t MidiOut::Send(uint32_t message) {
  platform::LockGuard hold(handleLock_);
  return device != 0 ? platform::CurrentMidiApi().OutShortMsg(device, message)
                     : platform::kMidiInvalidHandle;
}

void MidiOut::ScheduleShutdown() {
  LogMessage("MidiOut: ScheduleShutdown()");
  CloseDevice();
}

void MidiOut::Shutdown() {
  CloseDevice();
  LogMessage("MidiOut: Shut down");
}

void MidiOut::CloseDevice() {
  platform::LockGuard hold(handleLock_);
  if (device != 0) {
    platform::CurrentMidiApi().OutClose(device);
    device = 0;
  }
}
