#include "platform/linux/midi/JackMidiIn.h"

#include <jack/midiport.h>
#include <pthread.h>

#include <cerrno>

#include "platform/Notice.h"
#include "platform/linux/RealTimePriority.h"
#include "platform/linux/midi/ShortMessage.h"

namespace platform {

JackMidiIn::JackMidiIn(Deliver deliver, void* context) : deliver_(deliver), context_(context) {
  sem_init(&wake_, 0, 0);
}

JackMidiIn::~JackMidiIn() {
  Close();
  sem_destroy(&wake_);
}

JackMidiIn::OpenResult JackMidiIn::Open(const char* clientName, const std::string& source) {
  jack_status_t status;
  NameJackThreads();
  client_ = JackClient::Open(clientName, &status);
  if (client_ == nullptr) {
    failure_ = JackClient::OpenFailure(status);
    return OpenResult::kNoServer;
  }
  bool found = false;
  client_->With([&](jack_client_t* client) {
    found = jack_port_by_name(client, source.c_str()) != nullptr;
    if (found)
      port_ = jack_port_register(client, "MIDI In", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  });
  if (!found) {
    failure_ = "JACK: the port is gone";
    Close();
    return OpenResult::kNoSuchPort;
  }
  // A reopened input starts a new relay: the last Close told the old one to end.
  quit_.store(false, std::memory_order_relaxed);
  relayEnded_ = false;
  relay_ = std::thread(&JackMidiIn::Relay, this);
  client_->SetProcess(&JackMidiIn::Process, this);
  client_->SetLost(&JackMidiIn::OnLost, this);
  bool connected = false;
  client_->With([&](jack_client_t* client) {
    connected = port_ != nullptr && jack_activate(client) == 0 &&
                jack_connect(client, source.c_str(), jack_port_name(port_)) == 0;
  });
  if (!connected) {
    failure_ = "JACK: the input port cannot be registered or connected";
    Close();
    return OpenResult::kFailed;
  }
  return OpenResult::kOk;
}

void JackMidiIn::Start() {
  startUs_.store(jack_get_time(), std::memory_order_relaxed);
  started_.store(true);
}

void JackMidiIn::Reset() {
  started_.store(false);
  // A callback that saw `started` before it was cleared may still be taking
  // messages; it is out once `busy` is false, and then the count taken is final.
  while (busy_.load()) std::this_thread::yield();
  uint64_t taken = taken_.load(std::memory_order_acquire);
  std::unique_lock<std::mutex> hold(drainMutex_);
  drained_.wait(hold, [&] { return delivered_ >= taken || relayEnded_; });
}

void JackMidiIn::Close() {
  started_.store(false);
  if (client_ != nullptr) {
    // Returns once the process callback has finished for good; a client
    // whose server went away may have been closed by the table already.
    client_->Close();
    client_.reset();
    port_ = nullptr;
  }
  if (relay_.joinable()) {
    quit_.store(true, std::memory_order_release);
    sem_post(&wake_);
    relay_.join();
  }
}

int JackMidiIn::Process(jack_nframes_t frames, void* self) {
  static_cast<JackMidiIn*>(self)->Take(frames);
  return 0;
}

// A thread of libjack's, like a signal handler: stores and posts only.
void JackMidiIn::OnLost(void* self, const char* reason) {
  auto* in = static_cast<JackMidiIn*>(self);
  size_t i = 0;
  for (; reason != nullptr && reason[i] != 0 && i + 1 < sizeof in->goneReason_; ++i)
    in->goneReason_[i] = reason[i];
  in->goneReason_[i] = 0;
  in->serverGone_.store(true, std::memory_order_release);
  sem_post(&in->wake_);
}

// JACK's real-time thread: lock-free stores and one semaphore post, nothing
// that allocates or waits.
void JackMidiIn::Take(jack_nframes_t frames) {
  busy_.store(true);
  if (started_.load()) {
    void* buffer = jack_port_get_buffer(port_, frames);
    uint32_t count = jack_midi_get_event_count(buffer);
    // Every message of one period gets the time the period reached us, as a
    // driver stamps what it hands over; the spacing of the periods is kept.
    jack_time_t now = count > 0 ? jack_get_time() : 0;
    uint64_t taken = 0;
    bool wake = false;
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      uint32_t word;
      if (jack_midi_event_get(&event, buffer, i) != 0) continue;
      if (!ShortMessageWord(event.buffer, event.size, &word)) {
        // System exclusive is a whole message of another kind, dropped as
        // every input drops it; anything else is a broken event.
        if (event.size == 0 || event.buffer[0] != 0xF0)
          broken_.fetch_add(1, std::memory_order_relaxed);
        wake = true;
        continue;
      }
      wake = true;
      if (ring_.TryPush(Event{word, now}))
        ++taken;
      else
        lost_.fetch_add(1, std::memory_order_relaxed);
    }
    if (taken > 0) taken_.fetch_add(taken, std::memory_order_release);
    if (wake) sem_post(&wake_);
  }
  busy_.store(false);
}

void JackMidiIn::Relay() {
  pthread_setname_np(pthread_self(), "jack midi in");
  for (;;) {
    while (sem_wait(&wake_) != 0 && errno == EINTR) {
    }
    bool quit = quit_.load(std::memory_order_acquire);
    Drain();
    if (quit) break;
  }
  std::lock_guard<std::mutex> hold(drainMutex_);
  relayEnded_ = true;
  drained_.notify_all();
}

void JackMidiIn::Drain() {
  uint64_t startUs = startUs_.load(std::memory_order_relaxed);
  Event event;
  while (ring_.TryPop(&event)) {
    ++relayed_;
    uint64_t ms = event.timeUs > startUs ? (event.timeUs - startUs) / 1000 : 0;
    deliver_(context_, event.word, static_cast<uint32_t>(ms));
  }
  // Told once the ring has drained, so a flood that overflows it gives one
  // line, not one per message.
  uint64_t lost = lost_.load(std::memory_order_relaxed);
  if (lost != reportedLost_) {
    NoticeFormat("Midi-In: the input queue was full, %llu messages lost",
                 static_cast<unsigned long long>(lost - reportedLost_));
    reportedLost_ = lost;
  }
  uint64_t broken = broken_.load(std::memory_order_relaxed);
  if (broken != reportedBroken_) {
    NoticeFormat("Midi-In: %llu JACK MIDI events were not one whole short message, dropped",
                 static_cast<unsigned long long>(broken - reportedBroken_));
    reportedBroken_ = broken;
  }
  if (!goneTold_ && serverGone_.load(std::memory_order_acquire)) {
    goneTold_ = true;
    NoticeFormat("Midi-In lost: the JACK server has gone away (%s)", goneReason_);
  }
  std::lock_guard<std::mutex> hold(drainMutex_);
  delivered_ = relayed_;
  drained_.notify_all();
}

}  // namespace platform
