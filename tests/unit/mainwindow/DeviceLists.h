// Enumeration-only devices for the main window's tests: the platform's null
// devices, with named devices whose capability query may fail. Nothing opens:
// a synthesizer started on them runs without its devices.
#pragma once
#include "platform/NullDevices.h"

// Installs the null devices for the lifetime of a test.
struct InstalledDevices {
  platform::NullWaveOutApi wave;
  platform::NullMidiApi midi;
  InstalledDevices() {
    platform::InstallWaveOutApi(&wave);
    platform::InstallMidiApi(&midi);
  }
  ~InstalledDevices() {
    platform::InstallWaveOutApi(nullptr);
    platform::InstallMidiApi(nullptr);
  }
};
