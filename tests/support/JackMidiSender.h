// A JACK client with one MIDI output port ("out") that plays a list of short
// message words, at most `perPeriod` in each period, in order. The words are
// given up front; Release(n) lets the first n go. Its process callback
// neither allocates nor locks, so it adds nothing to what a test counts on
// real-time threads.
#pragma once
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class JackMidiSender {
 public:
  JackMidiSender(const char* name, std::vector<uint32_t> words, uint32_t perPeriod)
      : words_(std::move(words)), perPeriod_(perPeriod) {
    client_ = jack_client_open(name, JackNoStartServer, nullptr);
    if (!client_) return;
    port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &JackMidiSender::Process, this);
    if (!port_ || jack_activate(client_) != 0) port_ = nullptr;
  }
  ~JackMidiSender() {
    if (client_) jack_client_close(client_);
  }
  bool ok() const { return client_ && port_; }
  std::string PortName() const { return jack_port_name(port_); }

  // JACK applies a new connection from a later period on: what is sent
  // before then goes nowhere. Waits (at most 10 s) until the port is connected.
  bool WaitUntilConnected() {
    for (int waited = 0; waited < 10000; waited += 5) {
      if (jack_port_connected(port_) > 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  void Release(size_t count) { released_.store(std::min(count, words_.size())); }
  size_t Sent() const { return sent_.load(); }
  // Waits (at most 60 s) until every released word is out and `periods` more
  // periods have passed, so that every client behind this one has run the
  // period that carried the last of them. False on time-out.
  bool WaitUntilSentAndPassed(uint64_t periods) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sent_.load() < released_.load()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    uint64_t until = cycles_.load() + periods;
    while (cycles_.load() < until) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  // A word that tells its index apart from every other below 2^18: note-on
  // messages whose channel, note and velocity spell the index.
  static uint32_t Numbered(size_t index) {
    return 0x90u | ((index >> 14) & 0x0F) | ((index >> 7) & 0x7F) << 8 | (index & 0x7F) << 16;
  }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackMidiSender*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    jack_midi_clear_buffer(buffer);
    size_t sent = self->sent_.load(std::memory_order_relaxed);
    size_t end = std::min(self->released_.load(), sent + self->perPeriod_);
    for (jack_nframes_t frame = 0; sent < end; ++sent, frame = std::min(frame + 1, frames - 1)) {
      uint32_t word = self->words_[sent];
      unsigned char bytes[3] = {static_cast<unsigned char>(word),
                                static_cast<unsigned char>(word >> 8),
                                static_cast<unsigned char>(word >> 16)};
      if (jack_midi_event_write(buffer, frame, bytes, 3) != 0) break;  // the port's buffer is full
    }
    self->sent_.store(sent);
    self->cycles_.fetch_add(1);
    return 0;
  }

  std::vector<uint32_t> words_;
  const uint32_t perPeriod_;
  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  std::atomic<size_t> released_{0};
  std::atomic<size_t> sent_{0};
  std::atomic<uint64_t> cycles_{0};
};
