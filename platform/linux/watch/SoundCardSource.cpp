#include <libudev.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/linux/watch/DeviceSources.h"

namespace platform {

namespace {

class SoundCardSource : public DeviceSource {
 public:
  ~SoundCardSource() override {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
  }

  // Tried once: without udev (a container) there is nothing to wait for.
  bool Connect() override {
    if (tried_) return monitor_ != nullptr;
    tried_ = true;
    udev_ = udev_new();
    if (udev_ == nullptr) return false;
    // "udev", not "kernel": a card is announced once its device nodes are
    // there with their permissions.
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "sound", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
      if (monitor_ != nullptr) udev_monitor_unref(monitor_);
      monitor_ = nullptr;
      return false;
    }
    return true;
  }

  int Descriptor() const override {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
  }

  void Read() override {
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
      const char* action = udev_device_get_action(device);
      const char* name = udev_device_get_sysname(device);
      if (action != nullptr && name != nullptr && std::strncmp(name, "card", 4) == 0 &&
          (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0))
        ++cardEvents_;
      udev_device_unref(device);
    }
  }

  void Describe(std::string* state) override {
    state->append("cards ").append(std::to_string(cardEvents_)).append("\n");
  }

 private:
  bool tried_ = false;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  unsigned long cardEvents_ = 0;
};

}  // namespace

std::unique_ptr<DeviceSource> MakeSoundCardSource() { return std::make_unique<SoundCardSource>(); }

}  // namespace platform
