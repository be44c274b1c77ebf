// A JACK client that records two output ports of another client into memory,
// as 16-bit frames (left, right). The process callback only copies into the
// space reserved up front; Frames() may be read from any thread.
#pragma once
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

class JackRecorder {
 public:
  explicit JackRecorder(size_t capacityFrames) : samples_(capacityFrames * 2) {
    jack_status_t status;
    client_ = jack_client_open("recorder", JackNoStartServer, &status);
    if (!client_) return;
    ports_[0] = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    ports_[1] = jack_port_register(client_, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, Process, this);
    if (!ports_[0] || !ports_[1] || jack_activate(client_) != 0) {
      jack_client_close(client_);
      client_ = nullptr;
    }
  }

  ~JackRecorder() {
    if (client_) jack_client_close(client_);
  }

  JackRecorder(const JackRecorder&) = delete;
  JackRecorder& operator=(const JackRecorder&) = delete;

  // May be called again until it succeeds: the other client registers its
  // ports one at a time, and a connection made by an earlier call counts.
  bool Connect(const std::string& left, const std::string& right) {
    return client_ && Wire(left, ports_[0]) && Wire(right, ports_[1]);
  }

  size_t Frames() const { return frames_.load(std::memory_order_acquire); }
  // The server's frame time of recorded frame 0, so recorded sound can be set
  // against MIDI events of other clients; valid once Frames() > 0.
  jack_nframes_t StartFrameTime() const { return startFrame_.load(std::memory_order_acquire); }
  // Periods the server skipped while recording (each shifts later frames).
  size_t Gaps() const { return gaps_.load(std::memory_order_acquire); }
  // Frame i's left (channel 0) or right (channel 1) value; only below Frames().
  int16_t At(size_t frame, int channel) const { return samples_[frame * 2 + channel]; }
  bool Ok() const { return client_ != nullptr; }
  uint32_t Rate() const { return client_ ? jack_get_sample_rate(client_) : 0; }

 private:
  bool Wire(const std::string& source, jack_port_t* port) {
    int result = jack_connect(client_, source.c_str(), jack_port_name(port));
    return result == 0 || result == EEXIST;
  }

  // The audio system carries 16-bit values as floats scaled by 1/32768; this
  // undoes it exactly.
  static int16_t ToInt16(float value) {
    double scaled = std::nearbyint(double(value) * 32768.0);
    return static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, scaled)));
  }

  static int Process(jack_nframes_t count, void* context) {
    auto* self = static_cast<JackRecorder*>(context);
    auto* left = static_cast<const float*>(jack_port_get_buffer(self->ports_[0], count));
    auto* right = static_cast<const float*>(jack_port_get_buffer(self->ports_[1], count));
    size_t at = self->frames_.load(std::memory_order_relaxed);
    size_t room = self->samples_.size() / 2 - at;
    jack_nframes_t now = jack_last_frame_time(self->client_);
    if (at == 0) {
      self->startFrame_.store(now, std::memory_order_release);
    } else if (room > 0 && now != self->startFrame_.load(std::memory_order_relaxed) + at) {
      self->gaps_.fetch_add(1, std::memory_order_relaxed);
    }
    size_t n = std::min<size_t>(count, room);
    for (size_t i = 0; i < n; ++i) {
      self->samples_[(at + i) * 2] = ToInt16(left[i]);
      self->samples_[(at + i) * 2 + 1] = ToInt16(right[i]);
    }
    self->frames_.store(at + n, std::memory_order_release);
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* ports_[2] = {};
  std::vector<int16_t> samples_;
  std::atomic<size_t> frames_{0};
  std::atomic<jack_nframes_t> startFrame_{0};
  std::atomic<size_t> gaps_{0};
};
