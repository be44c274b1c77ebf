// note_latency [NOTES]: how long a note takes from its MIDI note-on to its
// first sound, through the whole synthesizer, on the JACK server that runs
// (bench/latency.sh starts private ones at several periods).
//
// One JACK client of ours sends note-ons on a MIDI port, each at an exact
// frame time and each at another phase of the period and of the mixer's
// buffers, and records the synthesizer's output; both carry the server's
// frame time, so the latency is exact to the frame. Prints the least, mean
// and largest latency in milliseconds.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/Instrument.h"
#include "engine/InstrumentTable.h"
#include "engine/PitchTable.h"
#include "log/Log.h"
#include "platform/Midi.h"
#include "platform/WaveOut.h"
#include "synth/Synthesizer.h"

namespace {

// Sends note-on 64 (and its note-off 200 ms later) every `spacing` frames
// plus a step that walks the phase, and records its two audio inputs. The
// process callback only writes into storage reserved up front.
class Probe {
 public:
  explicit Probe(size_t notes) : sentAt_(notes), samples_(size_t(192000) * 4 * (notes + 2)) {
    client_ = jack_client_open("pvlatency", JackNoStartServer, nullptr);
    if (!client_) return;
    rate_ = jack_get_sample_rate(client_);
    spacing_ = rate_ * 6 / 10;
    // Periods beyond 2048 frames hold the sound back by several periods (the
    // device copies frames ahead): each note must have ended before the next.
    const jack_nframes_t period = jack_get_buffer_size(client_);
    if (period > 2048) spacing_ += 6 * period;
    midi_ = jack_port_register(client_, "src", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in_[0] = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    in_[1] = jack_port_register(client_, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &Probe::Process, this);
    if (!midi_ || !in_[0] || !in_[1] || jack_activate(client_) != 0) {
      jack_client_close(client_);
      client_ = nullptr;
    }
  }
  ~Probe() {
    if (client_) jack_client_close(client_);
  }
  bool Ok() const { return client_ != nullptr; }
  // May be called again until it succeeds: a connection made before counts.
  bool Connect() {
    for (int i = 0; i < 2; ++i) {
      const std::string source = "Pelvane:outport " + std::to_string(i);
      const int result = jack_connect(client_, source.c_str(), jack_port_name(in_[i]));
      if (result != 0 && result != EEXIST) return false;
    }
    return true;
  }
  void Play() { play_.store(true); }
  size_t Sent() const { return sent_.load(); }
  unsigned Rate() const { return rate_; }
  unsigned Period() const { return jack_get_buffer_size(client_); }

  // Frames from each note-on to the first sounding frame after it.
  std::vector<long> Latencies() const {
    std::vector<long> result;
    const size_t recorded = frames_.load();
    for (size_t i = 0; i < sent_.load(); ++i) {
      for (size_t f = size_t(sentAt_[i] - start_); f < recorded; ++f) {
        if (samples_[2 * f] != 0.0f || samples_[2 * f + 1] != 0.0f) {
          result.push_back(long(f) - long(sentAt_[i] - start_));
          break;
        }
      }
    }
    return result;
  }

 private:
  static int Process(jack_nframes_t frames, void* self) {
    return static_cast<Probe*>(self)->Run(frames);
  }

  int Run(jack_nframes_t frames) {
    const jack_nframes_t now = jack_last_frame_time(client_);
    void* out = jack_port_get_buffer(midi_, frames);
    jack_midi_clear_buffer(out);
    if (play_.load()) {
      if (!started_) {
        started_ = true;
        base_ = now + frames;
        start_ = now;
      }
      size_t i = sent_.load(std::memory_order_relaxed);
      if (i < sentAt_.size()) {
        // 0.6 s apart, and 97 frames later in the cycle each time.
        const jack_nframes_t on = base_ + jack_nframes_t(i) * (spacing_ + 97);
        const jack_nframes_t off = on + rate_ / 5;
        if (!offPending_ && int32_t(on - now) >= 0 && int32_t(on - (now + frames)) < 0) {
          const unsigned char noteOn[] = {0x90, 64, 100};
          jack_midi_event_write(out, on - now, noteOn, 3);
          sentAt_[i] = on;
          offPending_ = true;
        }
        if (offPending_ && int32_t(off - now) >= 0 && int32_t(off - (now + frames)) < 0) {
          const unsigned char noteOff[] = {0x80, 64, 0};
          jack_midi_event_write(out, off - now, noteOff, 3);
          offPending_ = false;
          sent_.store(i + 1);
        }
      }
      const float* left = static_cast<const float*>(jack_port_get_buffer(in_[0], frames));
      const float* right = static_cast<const float*>(jack_port_get_buffer(in_[1], frames));
      size_t at = frames_.load(std::memory_order_relaxed);
      const size_t n = std::min<size_t>(frames, samples_.size() / 2 - at);
      for (size_t k = 0; k < n; ++k) {
        samples_[2 * (at + k)] = left[k];
        samples_[2 * (at + k) + 1] = right[k];
      }
      frames_.store(at + n);
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* midi_ = nullptr;
  jack_port_t* in_[2] = {};
  unsigned rate_ = 0;
  jack_nframes_t spacing_ = 0;
  std::atomic<bool> play_{false};
  bool started_ = false, offPending_ = false;
  jack_nframes_t base_ = 0, start_ = 0;
  std::vector<jack_nframes_t> sentAt_;
  std::atomic<size_t> sent_{0};
  std::vector<float> samples_;
  std::atomic<size_t> frames_{0};
};

template <class Pred>
bool WaitFor(Pred pred, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs && !pred(); waited += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return pred();
}

int Find(uint32_t count, const std::string& wanted, bool (*name)(uint32_t, char*)) {
  for (uint32_t i = 0; i < count; ++i) {
    char text[32];
    if (name(i, text) && wanted == text) return int(i);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  LogPlatformNotices();
  const size_t notes = argc > 1 ? size_t(std::atoi(argv[1])) : 20;
  BuildPitchTable();
  auto* instrument = new Instrument();
  instrument->MakeDefault();
  InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = instrument;

  Probe probe(notes);
  if (!probe.Ok()) {
    std::fprintf(stderr, "note_latency: no JACK server\n");
    return 1;
  }
  int midiIn = Find(
      platform::CurrentMidiApi().InGetNumDevs(), "JACK: pvlatency:src", [](uint32_t i, char* text) {
        return platform::CurrentMidiApi().InGetDeviceName(i, text) == platform::kMidiOk;
      });
  int wave =
      Find(platform::CurrentWaveOutApi().GetNumDevs(), "JACK: system", [](uint32_t i, char* text) {
        return platform::CurrentWaveOutApi().GetDeviceName(i, text) == platform::kWaveOk;
      });
  if (midiIn < 0 || wave < 0) {
    std::fprintf(stderr, "note_latency: devices not listed (MIDI in %d, wave %d)\n", midiIn, wave);
    return 1;
  }
  auto* synthesizer = new Synthesizer(uint32_t(wave), midiIn, -1, platform::kNoFile);
  if (!WaitFor([&] { return probe.Connect(); }, 10000)) {
    std::fprintf(stderr, "note_latency: no ports \"Pelvane:outport 0/1\"\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  probe.Play();
  const int periodMs = int(1000.0 * probe.Period() / probe.Rate());
  WaitFor([&] { return probe.Sent() == notes; }, int(notes) * (1000 + 6 * periodMs) + 10000);
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(300, 4 * periodMs)));
  std::vector<long> latencies = probe.Latencies();
  delete synthesizer;
  if (latencies.size() != notes) {
    std::fprintf(stderr, "note_latency: %zu of %zu notes heard\n", latencies.size(), notes);
    return 1;
  }
  const double ms = 1000.0 / probe.Rate();
  double sum = 0;
  for (long l : latencies) sum += double(l);
  std::printf(
      "%u Hz, period %u: note-on to sound over %zu notes: least %.1f ms, mean %.1f ms, most %.1f "
      "ms\n",
      probe.Rate(), probe.Period(), notes,
      double(*std::min_element(latencies.begin(), latencies.end())) * ms, sum / double(notes) * ms,
      double(*std::max_element(latencies.begin(), latencies.end())) * ms);
  return 0;
}
