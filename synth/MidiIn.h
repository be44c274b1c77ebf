// The MIDI input: opens one input device and hands each incoming short
// message, with its time stamp, to a handler on a thread of its own (the
// MidiIn thread), one at a time, in arrival order. The device's callback only
// logs the opening and closing and posts the data to the thread's hidden
// window "MidiIn".
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/Midi.h"
#include "platform/Thread.h"
#include "platform/Window.h"

using MidiInHandler = void (*)(void* userData, uint32_t message, uint32_t timeStamp);

// wParam the message word, lParam its time stamp.
constexpr uint32_t WM_MIDIDATA = platform::kMessageUser + 10;
// Reset and close the input device.
constexpr uint32_t WM_MIDISTOP = platform::kMessageUser + 11;

class MidiIn {
 public:
  // Thread: ui. Starts the MidiIn thread and returns at once; the
  // device is opened by that thread. Without its hidden window the thread
  // opens nothing, logs one line and ends.
  MidiIn(int32_t deviceId, MidiInHandler handler, void* userData);
  // Thread: ui, after WaitStopped.
  ~MidiIn();
  MidiIn(const MidiIn&) = delete;
  MidiIn& operator=(const MidiIn&) = delete;

  // Thread: ui. Asks the thread to close the device and end; never blocks.
  void RequestStop();
  // Thread: ui, after RequestStop. Returns once the thread has
  // finished with this object. While WM_MIDISTOP cannot be posted it is
  // tried again at every wait.
  void WaitStopped();
  // Thread: any.
  bool Ended() const { return ended.load(); }

 private:
  friend struct MidiInPeer;  // the tests' view of the thread and its device

  // Thread: midi-in, the functions up to InputCallback.
  static void ThreadMain(void* self);
  void Run();
  static intptr_t WindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam);
  intptr_t HandleWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // Thread: audio (real-time), the device's callback thread: logs or posts,
  // nothing else.
  static void InputCallback(platform::MidiInHandle device, uint32_t message, uintptr_t instance,
                            uintptr_t param1, uintptr_t param2);

  int32_t deviceId;
  platform::MidiInHandle device = 0;  // Thread: midi-in
  MidiInHandler handler;
  void* userData;
  std::atomic<platform::WindowHandle> window{0};
  std::atomic<bool> stopRequested{false};
  // Set after stopRequested when a WM_MIDISTOP could not be posted (a full
  // queue): the loop then ends at the flag alone, after the message in hand.
  std::atomic<bool> stopUnposted{false};
  // Messages dropped by this input (they came while it was stopping, or
  // with its queue full where the device's thread may not wait); told in
  // one line when the thread ends.
  std::atomic<uint64_t> lostMessages{0};
  platform::Thread thread;
  // The end mark: set by the thread as its last access to this object.
  std::atomic<bool> ended{false};

  // Thread: ui. Posts WM_MIDISTOP when the window exists; notes a post that
  // failed.
  void PostStop();
  bool stopReceived_ = false;  // Thread: midi-in. A WM_MIDISTOP was handled
};
