#include "platform/linux/watch/DeviceSources.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <libudev.h>
#include <poll.h>
#include <pulse/pulseaudio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/linux/JackClient.h"

namespace platform {

bool IsOwnClientName(const char* name) { return std::strncmp(name, "Pelvane", 7) == 0; }

namespace {

// The watch's own clients: they own no port that is listed.
constexpr const char* kWatchName = "Pelvane watch";

void Quiet(const char*) {}
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// libjack reports every failed connection, and alsa-lib every missing card,
// on standard error; looking for a server that is not running is normal here.
void SilenceLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    snd_lib_error_set_handler(QuietAlsa);
  });
}

class JackSource : public DeviceSource {
 public:
  JackSource(Wake wake, void* context) : wake_(wake), context_(context) { SilenceLibraries(); }
  ~JackSource() override { Disconnect(); }

  bool Connect() override {
    if (client_ != nullptr && client_->Gone()) Disconnect();
    if (client_ != nullptr) return true;
    client_ = JackClient::Open(kWatchName, nullptr);
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
        if (IsOwnClientName(*port)) continue;
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

class SequencerSource : public DeviceSource {
 public:
  SequencerSource() { SilenceLibraries(); }
  ~SequencerSource() override {
    if (seq_ != nullptr) snd_seq_close(seq_);
  }

  bool Connect() override {
    if (seq_ != nullptr) return true;
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) return false;
    if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
      seq_ = nullptr;
      return false;
    }
    snd_seq_set_client_name(seq_, kWatchName);
    int port = snd_seq_create_simple_port(seq_, "announce",
                                          SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                          SND_SEQ_PORT_TYPE_APPLICATION);
    struct pollfd poll;
    if (port < 0 ||
        snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0 ||
        snd_seq_poll_descriptors(seq_, &poll, 1, POLLIN) != 1) {
      snd_seq_close(seq_);
      seq_ = nullptr;
      return false;
    }
    descriptor_ = poll.fd;
    return true;
  }

  int Descriptor() const override { return seq_ != nullptr ? descriptor_ : -1; }

  // The announcements themselves say little that the description does not.
  void Read() override {
    snd_seq_event_t* event;
    int result;
    do {
      result = snd_seq_event_input(seq_, &event);
    } while (result >= 0 || result == -ENOSPC);
  }

  void Describe(std::string* state) override {
    if (seq_ == nullptr) return;
    int self = snd_seq_client_id(seq_);
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
      int id = snd_seq_client_info_get_client(client);
      const char* name = snd_seq_client_info_get_name(client);
      if (id == self || id == SND_SEQ_CLIENT_SYSTEM || IsOwnClientName(name)) continue;
      snd_seq_port_info_set_client(port, id);
      snd_seq_port_info_set_port(port, -1);
      while (snd_seq_query_next_port(seq_, port) >= 0) {
        unsigned caps = snd_seq_port_info_get_capability(port);
        if (caps & SND_SEQ_PORT_CAP_NO_EXPORT) continue;
        state->append("alsa ").append(name).append(":").append(snd_seq_port_info_get_name(port));
        state->append(" ").append(std::to_string(caps)).append("\n");
      }
    }
  }

 private:
  snd_seq_t* seq_ = nullptr;
  int descriptor_ = -1;
};

bool IsSocket(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// Only a server that is already listening is asked; libpulse would otherwise
// start a daemon of its own.
bool PulseServerListening() {
  if (const char* server = std::getenv("PULSE_SERVER")) return server[0] != 0;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return (runtime && IsSocket(std::string(runtime) + "/pulse/native")) ||
         IsSocket("/run/pulse/native");
}

// A plain pa_mainloop, not a threaded one: the watch's thread runs it and
// polls the other sources' descriptors inside it (PollWith), so libpulse is
// only ever called from one thread at a time and no thread of its own runs.
class PulseSource : public DeviceSource {
 public:
  ~PulseSource() override { Disconnect(); }

  bool Connect() override {
    if (loop_ != nullptr && !failed_) return true;
    Disconnect();
    if (!PulseServerListening()) return false;
    // A server that is named but does not answer costs two seconds of the
    // watch's time; after that it is asked again only every half minute.
    if (std::chrono::steady_clock::now() < nextAttempt_) return false;
    loop_ = pa_mainloop_new();
    if (loop_ == nullptr) return false;
    pa_mainloop_set_poll_func(loop_, &PulseSource::Poll, this);
    pulse_ = pa_context_new(pa_mainloop_get_api(loop_), kWatchName);
    if (pulse_ == nullptr) {
      Disconnect();
      return false;
    }
    pa_context_set_state_callback(pulse_, &PulseSource::OnState, this);
    pa_context_set_subscribe_callback(pulse_, &PulseSource::OnEvent, this);
    if (pa_context_connect(pulse_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      Disconnect();
      return false;
    }
    // The first description must already hold the server, or the connection
    // itself would count as a change a moment after the watch starts. A
    // server that answers neither way within two seconds counts as absent.
    pa_time_event* timeout = pa_context_rttime_new(pulse_, pa_rtclock_now() + 2 * PA_USEC_PER_SEC,
                                                   &PulseSource::OnTimeout, this);
    while (!ready_ && !failed_ && pa_mainloop_iterate(loop_, 1, nullptr) >= 0) {
    }
    if (timeout != nullptr) pa_mainloop_get_api(loop_)->time_free(timeout);
    if (timedOut_) nextAttempt_ = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    if (!ready_ || failed_) {
      Disconnect();
      return false;
    }
    return true;
  }

  bool PollWith(std::vector<pollfd>* others, int timeoutMs, int* ready) override {
    if (loop_ == nullptr) return false;
    others_ = others;
    othersReady_ = 0;
    if (pa_mainloop_prepare(loop_, timeoutMs < 0 ? -1 : timeoutMs * 1000) < 0 ||
        pa_mainloop_poll(loop_) < 0) {
      others_ = nullptr;
      return false;
    }
    others_ = nullptr;
    pa_mainloop_dispatch(loop_);
    *ready = othersReady_;
    return true;
  }

  void Describe(std::string* state) override {
    if (ready_ && !failed_)
      state->append("pulse ").append(std::to_string(sinkEvents_)).append("\n");
  }

 private:
  void Disconnect() {
    if (pulse_ != nullptr) {
      pa_context_set_state_callback(pulse_, nullptr, nullptr);
      pa_context_set_subscribe_callback(pulse_, nullptr, nullptr);
      pa_context_disconnect(pulse_);
      pa_context_unref(pulse_);
      pulse_ = nullptr;
    }
    if (loop_ != nullptr) pa_mainloop_free(loop_);
    loop_ = nullptr;
    ready_ = false;
    failed_ = false;
    timedOut_ = false;
  }

  // Inside pa_mainloop_poll: one poll() over libpulse's descriptors and, when
  // the watch's loop asked (PollWith), the other sources' too.
  static int Poll(struct pollfd* fds, unsigned long count, int timeoutMs, void* arg) {
    auto* self = static_cast<PulseSource*>(arg);
    std::vector<pollfd>* others = self->others_;
    if (others == nullptr) return poll(fds, count, timeoutMs);
    std::vector<pollfd> all(fds, fds + count);
    all.insert(all.end(), others->begin(), others->end());
    int result = poll(all.data(), all.size(), timeoutMs);
    if (result < 0) return result;
    int ours = 0;
    for (unsigned long i = 0; i < count; ++i) {
      fds[i].revents = all[i].revents;
      ours += fds[i].revents != 0;
    }
    for (size_t i = 0; i < others->size(); ++i) {
      (*others)[i].revents = all[count + i].revents;
      self->othersReady_ += (*others)[i].revents != 0;
    }
    return ours;
  }

  static void OnState(pa_context* pulse, void* arg) {
    auto* self = static_cast<PulseSource*>(arg);
    switch (pa_context_get_state(pulse)) {
      case PA_CONTEXT_READY:
        pa_operation_unref(
            pa_context_subscribe(pulse, PA_SUBSCRIPTION_MASK_SINK, nullptr, nullptr));
        self->ready_ = true;
        break;
      case PA_CONTEXT_FAILED:
      case PA_CONTEXT_TERMINATED:
        // Only a connection that was up is a change; a failed attempt is not.
        if (self->ready_) self->changed_ = true;
        self->failed_ = true;
        break;
      default:
        break;
    }
  }

  static void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* arg) {
    auto* self = static_cast<PulseSource*>(arg);
    if (self->ready_) return;
    self->timedOut_ = true;
    self->failed_ = true;
  }

  static void OnEvent(pa_context*, pa_subscription_event_type_t type, uint32_t, void* arg) {
    auto* self = static_cast<PulseSource*>(arg);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK) return;
    unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (kind != PA_SUBSCRIPTION_EVENT_NEW && kind != PA_SUBSCRIPTION_EVENT_REMOVE) return;
    self->sinkEvents_++;
    self->changed_ = true;
  }

 public:
  // Whether a sink came or went, or the server went, since the last call.
  bool TakeChange() override {
    bool changed = changed_;
    changed_ = false;
    return changed;
  }

 private:
  pa_mainloop* loop_ = nullptr;
  pa_context* pulse_ = nullptr;
  std::chrono::steady_clock::time_point nextAttempt_{};
  bool ready_ = false;
  bool failed_ = false;
  bool timedOut_ = false;
  bool changed_ = false;
  unsigned long sinkEvents_ = 0;
  std::vector<pollfd>* others_ = nullptr;
  int othersReady_ = 0;
};

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

std::unique_ptr<DeviceSource> MakeJackSource(DeviceSource::Wake wake, void* context) {
  return std::make_unique<JackSource>(wake, context);
}
std::unique_ptr<DeviceSource> MakeSequencerSource() { return std::make_unique<SequencerSource>(); }
std::unique_ptr<DeviceSource> MakePulseSource() { return std::make_unique<PulseSource>(); }
std::unique_ptr<DeviceSource> MakeSoundCardSource() { return std::make_unique<SoundCardSource>(); }

}  // namespace platform
