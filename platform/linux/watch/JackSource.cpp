#include <jack/jack.h>

#include <memory>
#include <string>

#include "platform/linux/JackClient.h"
#include "platform/linux/SoundServers.h"
#include "platform/linux/watch/DeviceSources.h"

namespace platform {

namespace {

class JackSource : public DeviceSource {
 public:
  JackSource(Wake wake, void* context) : wake_(wake), context_(context) { SilenceLibraries(); }
  ~JackSource() override { Disconnect(); }

  bool Connect() override {
    if (client_ != nullptr && client_->Gone()) Disconnect();
    if (client_ != nullptr) return true;
    client_ = JackClient::Open(kWatchClientName, nullptr);
    if (client_ == nullptr) return false;
    // The callbacks run on libjack's notification thread, never the real-time one.
    client_->SetChanged(&JackSource::OnChange, this);
    client_->SetLost(&JackSource::OnShutdown, this);
    bool active = false;
    client_->With([&](jack_client_t* client) { active = jack_activate(client) == 0; });
    if (!active) {
      Disconnect();
      return false;
    }
    client_->ListThrough();
    return true;
  }

  void Describe(std::string* state) override {
    if (client_ == nullptr) return;
    client_->With([&](jack_client_t* client) {
      const char** ports = jack_get_ports(client, nullptr, nullptr, 0);
      if (ports == nullptr) return;
      for (const char** port = ports; *port != nullptr; ++port) {
        if (IsOwnClient(*port)) continue;
        state->append("jack ").append(*port).append("\n");
      }
      jack_free(ports);
    });
  }

 private:
  // Bounded: a server that does not answer never holds the watch's end.
  void Disconnect() { client_.reset(); }

  static void OnChange(void* self) { static_cast<JackSource*>(self)->Notify(); }
  // The server went away: the client is closed on the watch's thread, or by
  // the next open anywhere in the program, whichever comes first.
  static void OnShutdown(void* self, const char*) { static_cast<JackSource*>(self)->Notify(); }
  void Notify() { wake_(context_); }

  Wake wake_;
  void* context_;
  std::unique_ptr<JackClient> client_;
};

}  // namespace

std::unique_ptr<DeviceSource> MakeJackSource(DeviceSource::Wake wake, void* context) {
  return std::make_unique<JackSource>(wake, context);
}

}  // namespace platform
