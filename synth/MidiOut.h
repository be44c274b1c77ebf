// The MIDI echo output: passes every incoming short message on, unchanged, to
// one MIDI output device. No thread, no queue.
#pragma once
#include <cstdint>

#include "platform/Lock.h"
#include "platform/Midi.h"

class MidiOut {
 public:
  // User-interface thread. Opens the device at once; on failure logs one line
  // and lives on without a device.
  explicit MidiOut(int32_t deviceId);
  // User-interface thread. Closes a device still open (with Shutdown's line).
  ~MidiOut();
  MidiOut(const MidiOut&) = delete;
  MidiOut& operator=(const MidiOut&) = delete;

  // MidiIn thread. The device's result; without a device nothing is sent.
  uint32_t Send(uint32_t message);
  // User-interface thread, first phase of the stop: logs, then closes.
  void ScheduleShutdown();
  // User-interface thread, second phase: closes if still open, then logs.
  void Shutdown();

  int32_t deviceId;
  platform::MidiOutHandle device = 0;

 private:
  void CloseDevice();

  // Held only around the handle's use: a send on the MidiIn thread and the
  // close on the user-interface thread never interleave, so a send during or
  // after the close finds no handle instead of a released one.
  platform::Lock handleLock_;
};
