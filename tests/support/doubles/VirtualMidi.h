// In-memory MIDI ports for tests, installed with platform::InstallMidiApi.
// Inputs behave like the multimedia system's: the open calls the callback
// with kMidiInOpen, the close with kMidiInClose, and every injected message
// arrives as kMidiInData (param1 the word, param2 the time stamp) on the
// injecting thread, once the input is started and until it is reset or
// closed. After InClose returns the callback is never called again for that
// opening. Outputs record every short message they are sent.
//
// Handles are never reused, so a call with a handle that was closed is
// recognised and counted (badHandleCalls) instead of reaching another port.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Midi.h"

namespace platform {

class VirtualMidi : public MidiApi {
 public:
  VirtualMidi(std::vector<std::string> inputNames, std::vector<std::string> outputNames);
  ~VirtualMidi() override;

  // Test configuration, before the ports are used.
  // The next opens of this device fail with error; LastError then gives lastError.
  void FailInOpen(uint32_t deviceId, uint32_t error, int lastError);
  void FailOutOpen(uint32_t deviceId, uint32_t error, int lastError);
  // The name queries of this device fail with error.
  void FailInName(uint32_t deviceId, uint32_t error);
  void FailOutName(uint32_t deviceId, uint32_t error);

  // Any thread. Delivers one message to the input's callback; false when the
  // input is not open and started (the message is then lost, as on a device).
  bool Inject(uint32_t deviceId, uint32_t message, uint32_t timeStamp);
  // Any thread. Waits up to timeoutMs for the input to be open and started.
  bool WaitInputStarted(uint32_t deviceId, int timeoutMs);
  // Any thread. Waits up to timeoutMs until the input has been closed `count`
  // times in all.
  bool WaitInputClosed(uint32_t deviceId, int count, int timeoutMs);
  bool InputOpen(uint32_t deviceId);
  bool OutputOpen(uint32_t deviceId);

  // Everything output deviceId was sent, over all its openings, in order.
  std::vector<uint32_t> Sent(uint32_t deviceId);

  struct Counts {
    int inOpens = 0, inStarts = 0, inResets = 0, inCloses = 0;
    int outOpens = 0, outCloses = 0;
    // Calls with a handle that is not (or no longer) open.
    int badHandleCalls = 0;
    // A close that ran while a short message to the same handle was still
    // being sent: on a real device that send touches a released handle.
    int closeDuringSend = 0;
  };
  Counts GetCounts();

  uint32_t InGetNumDevs() override;
  uint32_t InGetDeviceName(uint32_t deviceId, char name[32]) override;
  uint32_t InOpen(MidiInHandle* device, uint32_t deviceId, MidiInCallback callback,
                  uintptr_t instance) override;
  uint32_t InStart(MidiInHandle device) override;
  uint32_t InReset(MidiInHandle device) override;
  uint32_t InClose(MidiInHandle device) override;
  uint32_t OutGetNumDevs() override;
  uint32_t OutGetDeviceName(uint32_t deviceId, char name[32]) override;
  uint32_t OutOpen(MidiOutHandle* device, uint32_t deviceId) override;
  uint32_t OutShortMsg(MidiOutHandle device, uint32_t message) override;
  uint32_t OutClose(MidiOutHandle device) override;
  int LastError() override;

 private:
  struct Failure {
    uint32_t error = 0;
    int lastError = 0;
  };
  struct Input {
    std::string name;
    Failure openFailure, nameFailure;
    MidiInHandle handle = 0;  // 0 while closed
    MidiInCallback callback = nullptr;
    uintptr_t instance = 0;
    bool started = false;
    int closes = 0;
    // Held while the callback runs, so a close waits for a delivery in
    // progress and no delivery follows the close.
    std::mutex delivery;
  };
  struct Output {
    std::string name;
    Failure openFailure, nameFailure;
    MidiOutHandle handle = 0;
    int sending = 0;  // sends in progress on the handle
    std::vector<uint32_t> sent;
  };

  Input* FindInput(MidiInHandle handle);     // mutex_ held
  Output* FindOutput(MidiOutHandle handle);  // mutex_ held
  static uint32_t CopyName(const std::string& from, char name[32]);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Input*> inputs_;
  std::vector<Output*> outputs_;
  uintptr_t nextHandle_ = 0x1000;
  int lastError_ = 0;
  Counts counts_;
};

}  // namespace platform
