#include "synth/MidiIn.h"

#include <chrono>
#include <thread>

#include "log/Log.h"

MidiIn::MidiIn(int32_t inputDeviceId, MidiInHandler onMessage, void* onMessageData)
    : deviceId(inputDeviceId), handler(onMessage), userData(onMessageData) {
  if (!thread.Start(&MidiIn::ThreadMain, this)) {
    // Without a thread there is nothing to wait for; the run has no input.
    LogMessage("Midi-In: cannot start thread");
    ended.store(true);
  }
}

MidiIn::~MidiIn() {
  // The end mark comes just before the thread returns: join it so that no
  // thread outlives its synthesizer. Without the mark (a destruction without
  // WaitStopped) the handle is only released.
  if (ended.load()) thread.Wait(-1);
}

void MidiIn::RequestStop() {
  stopRequested.store(true);
  // Before the window exists the flag alone suffices: the thread tests it
  // after creating the window and before its first wait.
  PostStop();
}

void MidiIn::WaitStopped() {
  PostStop();
  while (!ended.load()) {
    thread.Wait(100);
    // The loop may be waiting on an empty queue that a failed post never
    // reached: it needs a message to see the flag.
    if (stopUnposted.load() && !ended.load()) PostStop();
  }
}

void MidiIn::PostStop() {
  platform::WindowHandle target = window.load();
  if (target != 0 && !platform::PostToWindow(target, WM_MIDISTOP, 0, 0)) stopUnposted.store(true);
}

void MidiIn::ThreadMain(void* self) { static_cast<MidiIn*>(self)->Run(); }

void MidiIn::Run() {
  platform::WindowHandle created = platform::CreateMessageWindow("MidiIn");
  if (!created) {
    // Nothing could reach the thread, not even the stop: no device is opened,
    // and the end mark lets WaitStopped return at once.
    LogMessage("Midi-In: the hidden window could not be created");
    ended.store(true);
    return;
  }
  platform::SetWindowOwner(created, this);
  platform::SetWindowProcedure(created, &MidiIn::WindowProc);
  window.store(created);

  platform::MidiApi& api = platform::CurrentMidiApi();
  platform::MidiInHandle opened = 0;
  if (api.InOpen(&opened, static_cast<uint32_t>(deviceId), &MidiIn::InputCallback,
                 reinterpret_cast<uintptr_t>(this)) != platform::kMidiOk)
    opened = 0;
  device = opened;
  if (device != 0) api.InStart(device);

  // The stop flag alone would drop messages already queued ahead of
  // WM_MIDISTOP; the loop runs until that message too has been handled, so
  // the queue's order is the only ordering between data and stop. A stop
  // requested before this point skips the loop (no WM_MIDISTOP may come: the
  // window did not exist when the stop was asked for). A stop that could not
  // be posted ends the loop at the flag alone.
  if (!stopRequested.load()) {
    do {
      platform::GetAndDispatchMessage();
    } while (!(stopRequested.load() && (stopReceived_ || stopUnposted.load())));
  }

  if (device != 0) {
    api.InReset(device);
    api.InClose(device);
    device = 0;
  }
  // Messages that came after the stop are not handled: they count as lost,
  // so that the dump file plus the lines that tell of losses account for
  // every message the device took.
  uintptr_t word = 0;
  intptr_t stamp = 0;
  while (platform::TakeQueuedMessage(created, WM_MIDIDATA, &word, &stamp))
    lostMessages.fetch_add(1, std::memory_order_relaxed);
  platform::DestroyMessageWindow(created);
  window.store(0);
  if (const uint64_t lost = lostMessages.exchange(0))
    LogFormat("Midi-In: %llu messages lost, they came faster than they could be handled",
              static_cast<unsigned long long>(lost));
  LogMessage("Midi-In thread termination");
  ended.store(true);
}

intptr_t MidiIn::WindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) {
  auto* self = static_cast<MidiIn*>(platform::GetWindowOwner(window));
  if (!self) return platform::DefaultWindowProcedure(window, message, wParam, lParam);
  return self->HandleWindowMessage(message, wParam, lParam);
}

intptr_t MidiIn::HandleWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_MIDIDATA:
      handler(userData, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
      return 0;
    case WM_MIDISTOP:
      stopReceived_ = true;
      // Arrives twice in a stop (RequestStop, WaitStopped); closes once.
      if (device != 0) {
        platform::MidiApi& api = platform::CurrentMidiApi();
        api.InReset(device);
        api.InClose(device);
        device = 0;
      }
      return 0;
    default:
      return platform::DefaultWindowProcedure(window.load(), message, wParam, lParam);
  }
}

void MidiIn::InputCallback(platform::MidiInHandle, uint32_t message, uintptr_t instance,
                           uintptr_t param1, uintptr_t param2) {
  auto* self = reinterpret_cast<MidiIn*>(instance);
  switch (message) {
    case platform::kMidiInOpen:
      LogMessage("Midi-In successfully opened");
      break;
    case platform::kMidiInClose:
      LogMessage("Midi-In successfully closed");
      break;
    case platform::kMidiInData: {
      // The time stamp travels in lParam as its 32 bits, unchanged.
      const intptr_t stamp = static_cast<intptr_t>(static_cast<uint32_t>(param2));
      // The queue is bounded: a post fails while it is full, that is while
      // messages come faster than this thread handles them. The device's
      // thread then waits for room, so that the excess is dropped (and
      // counted) where it first meets a bounded queue, the device's own,
      // and memory stays flat. A stopping input waits for nothing.
      for (;;) {
        const platform::WindowHandle target = self->window.load();
        if (target == 0) break;
        if (platform::PostToWindow(target, WM_MIDIDATA, param1, stamp)) break;
        if (self->stopRequested.load()) {
          self->lostMessages.fetch_add(1, std::memory_order_relaxed);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      break;
    }
    default:
      break;
  }
}
