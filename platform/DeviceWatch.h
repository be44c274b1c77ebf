// Tells a window when sound or MIDI devices come or go, as Windows does with
// WM_DEVICECHANGE. Windows sends that message to every top-level window by
// itself, so there the watch does nothing. On Linux it follows JACK clients
// and ports, ALSA sequencer clients and ports, PulseAudio sinks and ALSA
// sound cards, and posts the message itself; it also lists the devices on
// its own thread, so that the window's refill only reads the listing.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/Window.h"

namespace platform {

constexpr uint32_t kMessageDeviceChange = 0x0219;  // WM_DEVICECHANGE
constexpr uintptr_t kDeviceNodesChanged = 0x0007;  // DBT_DEVNODES_CHANGED, its wParam

class DeviceWatch {
 public:
  // On the window's thread. Starts watching; from now on
  // kMessageDeviceChange (wParam kDeviceNodesChanged, lParam 0) is posted to
  // the window, never sent: the watch's threads do not touch the window
  // otherwise. The program's own clients and ports never count, and a burst
  // of changes gives one message. On Linux the message comes once the
  // devices are listed, and the device calls of the window's refill read
  // that listing.
  explicit DeviceWatch(WindowHandle window);
  // On the window's thread. Stops watching and waits for the watch's
  // threads; nothing is posted after, and the device calls list again.
  ~DeviceWatch();
  DeviceWatch(const DeviceWatch&) = delete;
  DeviceWatch& operator=(const DeviceWatch&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
