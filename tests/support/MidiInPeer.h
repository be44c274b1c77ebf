// The tests' view of a MidiIn's thread and device, which the program never
// reaches.
#pragma once
#include "synth/MidiIn.h"

struct MidiInPeer {
  static platform::Thread& Thread(MidiIn& in) { return in.thread; }
  static platform::WindowHandle Window(const MidiIn& in) { return in.window.load(); }
  static platform::MidiInHandle Device(const MidiIn& in) { return in.device; }
  static int32_t DeviceId(const MidiIn& in) { return in.deviceId; }
  // The MidiIn thread's window procedure and the device's callback, called
  // as the system would.
  static intptr_t WindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam) {
    return MidiIn::WindowProc(window, message, wParam, lParam);
  }
  static void InputCallback(platform::MidiInHandle device, uint32_t message, uintptr_t instance,
                            uintptr_t param1, uintptr_t param2) {
    MidiIn::InputCallback(device, message, instance, param1, param2);
  }
};
