#include <poll.h>
#include <pulse/pulseaudio.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/SoundServers.h"
#include "platform/linux/watch/DeviceSources.h"

namespace platform {

namespace {

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
    pulse_ = pa_context_new(pa_mainloop_get_api(loop_), kWatchClientName);
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

}  // namespace

std::unique_ptr<DeviceSource> MakePulseSource() { return std::make_unique<PulseSource>(); }

}  // namespace platform
