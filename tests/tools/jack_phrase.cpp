// The far side of the headless demo: a JACK client that offers a MIDI output
// port (Pelvane's MIDI input device) and a stereo audio input (Pelvane's wave
// output device). Once Pelvane has connected to both, it plays a short phrase
// with frame-exact event times, records what comes back, writes the
// recording as a 16-bit WAV and reports what it heard: each note's pitch, the
// time from the MIDI message to its sound, and the peak level.
//
//   pelvane_jack_phrase CLIENT OUT.wav SECONDS   play, record, report
//   pelvane_jack_phrase --analyse IN.wav         report on an earlier recording
// Exit code 0 when every note of the phrase was heard at its pitch.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kBeatSeconds = 0.5;
constexpr double kNoteSeconds = 0.4;
constexpr int kVelocity = 100;
// C major, up and down: distinct pitches a listener (and the analysis) can name.
constexpr int kPhrase[] = {60, 64, 67, 72, 67, 64, 60, 55};
constexpr int kPhraseNotes = sizeof kPhrase / sizeof kPhrase[0];
constexpr double kLeadIn = 0.5;  // seconds of recording before the first note

struct Event {
  uint32_t frame;  // from the start of the recording
  uint8_t bytes[3];
};

std::vector<Event> Phrase(double rate) {
  std::vector<Event> events;
  for (int i = 0; i < kPhraseNotes; i++) {
    uint8_t note = static_cast<uint8_t>(kPhrase[i]);
    auto on = static_cast<uint32_t>((kLeadIn + i * kBeatSeconds) * rate);
    auto off = static_cast<uint32_t>((kLeadIn + i * kBeatSeconds + kNoteSeconds) * rate);
    events.push_back(Event{on, {0x90, note, kVelocity}});
    events.push_back(Event{off, {0x80, note, 0}});
  }
  return events;
}

struct State {
  jack_client_t* client = nullptr;
  jack_port_t* midiOut = nullptr;
  jack_port_t* in[2] = {nullptr, nullptr};
  std::vector<Event> events;
  std::vector<float> left, right;
  std::atomic<bool> armed{false};
  std::atomic<size_t> recorded{0};
  size_t nextEvent = 0;
};

// JACK's process thread: the events of this period at their exact frames,
// and the period's input appended to the recording.
int Process(jack_nframes_t count, void* arg) {
  auto* s = static_cast<State*>(arg);
  void* midi = jack_port_get_buffer(s->midiOut, count);
  jack_midi_clear_buffer(midi);
  if (!s->armed.load(std::memory_order_acquire)) return 0;
  size_t at = s->recorded.load(std::memory_order_relaxed);
  size_t total = s->left.size();
  if (at >= total) return 0;
  while (s->nextEvent < s->events.size() && s->events[s->nextEvent].frame < at + count) {
    const Event& e = s->events[s->nextEvent];
    jack_midi_event_write(midi, e.frame - static_cast<uint32_t>(at), e.bytes, 3);
    s->nextEvent++;
  }
  auto* l = static_cast<const float*>(jack_port_get_buffer(s->in[0], count));
  auto* r = static_cast<const float*>(jack_port_get_buffer(s->in[1], count));
  size_t n = std::min<size_t>(count, total - at);
  std::copy(l, l + n, s->left.begin() + static_cast<long>(at));
  std::copy(r, r + n, s->right.begin() + static_cast<long>(at));
  s->recorded.store(at + n, std::memory_order_release);
  return 0;
}

bool WriteWav(const std::string& path, const std::vector<float>& left,
              const std::vector<float>& right, size_t frames, uint32_t rate) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  auto u32 = [&](uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    std::fwrite(b, 1, 4, f);
  };
  auto u16 = [&](uint16_t v) {
    uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    std::fwrite(b, 1, 2, f);
  };
  auto bytes = static_cast<uint32_t>(frames * 4);
  std::fwrite("RIFF", 1, 4, f);
  u32(36 + bytes);
  std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16), u16(1), u16(2), u32(rate), u32(rate * 4), u16(4), u16(16);
  std::fwrite("data", 1, 4, f);
  u32(bytes);
  for (size_t i = 0; i < frames; i++) {
    for (float v : {left[i], right[i]})
      u16(static_cast<uint16_t>(
          static_cast<int16_t>(std::lround(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)))));
  }
  return std::fclose(f) == 0;
}

// Reads what WriteWav wrote (16-bit stereo PCM with a 44-byte header).
bool ReadWav(const std::string& path, std::vector<float>& left, std::vector<float>& right,
             double* rate) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t header[44];
  bool ok = std::fread(header, 1, 44, f) == 44 && std::memcmp(header, "RIFF", 4) == 0 &&
            header[22] == 2 && header[34] == 16;
  if (ok) {
    *rate = header[24] | header[25] << 8 | header[26] << 16 | header[27] << 24;
    int16_t frame[2];
    while (std::fread(frame, 2, 2, f) == 2) {
      left.push_back(frame[0] / 32768.0f);
      right.push_back(frame[1] / 32768.0f);
    }
  }
  std::fclose(f);
  return ok;
}

// The fundamental of a stretch of sound: the shortest lag whose normalised
// autocorrelation peaks near the strongest, refined by a parabola.
double Pitch(const std::vector<float>& x, size_t from, size_t length, double rate) {
  if (from + length > x.size()) return 0;
  int minLag = static_cast<int>(rate / 2000), maxLag = static_cast<int>(rate / 50);
  std::vector<double> r(static_cast<size_t>(maxLag) + 2, 0.0);
  double energy = 0;
  for (size_t i = 0; i < length; i++) energy += double(x[from + i]) * x[from + i];
  if (energy <= 0) return 0;
  for (int lag = minLag - 1; lag <= maxLag + 1; lag++) {
    auto k = static_cast<size_t>(lag);
    double sum = 0;
    for (size_t i = 0; i + k < length; i++) sum += double(x[from + i]) * x[from + i + k];
    r[k] = sum / energy;
  }
  double best = 0;
  for (int lag = minLag; lag <= maxLag; lag++) best = std::max(best, r[static_cast<size_t>(lag)]);
  for (int lag = minLag; lag <= maxLag; lag++) {
    auto k = static_cast<size_t>(lag);
    if (r[k] >= 0.9 * best && r[k] >= r[k - 1] && r[k] >= r[k + 1]) {
      double a = r[k - 1], b = r[k], c = r[k + 1];
      double shift = (a - 2 * b + c) != 0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0;
      return rate / (lag + shift);
    }
  }
  return 0;
}

std::string NoteName(int note) {
  static const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  return note < 0 ? "?" : std::string(names[note % 12]) + std::to_string(note / 12 - 1);
}

// Every kBlock frames, the peak of |left| and |right| over the kWindow frames
// that end there: long enough to span a period of the lowest note.
constexpr size_t kBlock = 32;
constexpr size_t kWindow = 448;
std::vector<float> Envelope(const std::vector<float>& left, const std::vector<float>& right,
                            size_t frames) {
  std::vector<float> env(frames / kBlock, 0.f);
  for (size_t b = 0; b < env.size(); b++) {
    size_t end = (b + 1) * kBlock, begin = end > kWindow ? end - kWindow : 0;
    for (size_t i = begin; i < end; i++)
      env[b] = std::max(env[b], std::max(std::fabs(left[i]), std::fabs(right[i])));
  }
  return env;
}

// Reports every note of the phrase; true when all were heard at their pitch.
bool Analyse(const std::vector<float>& left, const std::vector<float>& right, size_t frames,
             double rate) {
  std::vector<Event> events = Phrase(rate);
  std::vector<float> env = Envelope(left, right, frames);
  int heard = 0, sounded = 0;
  double latencySum = 0, latencyMax = 0;
  for (int i = 0; i < kPhraseNotes; i++) {
    size_t on = events[static_cast<size_t>(i) * 2].frame;
    // The onset: the first block after the message above -40 dBFS and four
    // times louder than the window before it, so the previous note's release
    // (heard after the same delay) does not count.
    size_t first = on / kBlock + 1,
           last = std::min(env.size(), (on + size_t(kBeatSeconds * rate)) / kBlock);
    size_t onsetBlock = first;
    auto rises = [&](size_t b) {
      constexpr size_t kBack = kWindow / kBlock;
      return env[b] >= 0.01f && b >= kBack && env[b - kBack] * 4 < env[b];
    };
    while (onsetBlock < last && !rises(onsetBlock)) onsetBlock++;
    // The pitch well inside the held note, whatever the delay, once the
    // previous note has faded.
    double f = Pitch(left, on + static_cast<size_t>(0.25 * rate), 4096, rate);
    int found = f > 0 ? static_cast<int>(std::lround(69 + 12 * std::log2(f / 440.0))) : -1;
    bool ok = found == kPhrase[i];
    heard += ok;
    std::printf("note %d: %6.1f Hz = %-3s (MIDI %d), played %-3s (MIDI %d)", i + 1, f,
                NoteName(found).c_str(), found, NoteName(kPhrase[i]).c_str(), kPhrase[i]);
    if (onsetBlock < last) {
      double latency =
          (static_cast<double>(onsetBlock * kBlock) - static_cast<double>(on)) * 1000.0 / rate;
      std::printf(", sound %5.1f ms after the message", latency);
      sounded++;
      latencySum += latency;
      latencyMax = std::max(latencyMax, latency);
    } else {
      std::printf(", onset hidden by the last note's release");
    }
    std::printf("%s\n", ok ? "" : "  WRONG");
  }
  float peak = 0;
  for (float v : env) peak = std::max(peak, v);
  std::printf("peak level %.1f dBFS (%d of 32767)\n", peak > 0 ? 20 * std::log10(peak) : -INFINITY,
              static_cast<int>(std::lround(peak * 32767)));
  if (sounded > 0)
    std::printf("latency message->sound (to the nearest %zu frames): mean %.1f ms, max %.1f ms\n",
                kBlock, latencySum / sounded, latencyMax);
  std::printf("%d of %d notes heard at their pitch\n", heard, kPhraseNotes);
  return heard == kPhraseNotes;
}

bool Connected(jack_port_t* port) { return jack_port_connected(port) > 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--analyse") == 0) {
    std::vector<float> left, right;
    double rate = 0;
    if (!ReadWav(argv[2], left, right, &rate)) {
      std::fprintf(stderr, "pelvane_jack_phrase: cannot read %s\n", argv[2]);
      return 2;
    }
    return Analyse(left, right, left.size(), rate) ? 0 : 1;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: pelvane_jack_phrase CLIENT OUT.wav SECONDS | --analyse IN.wav\n");
    return 2;
  }
  State s;
  jack_status_t status;
  s.client = jack_client_open(argv[1], JackNoStartServer, &status);
  if (!s.client) {
    std::fprintf(stderr, "pelvane_jack_phrase: no JACK server\n");
    return 2;
  }
  double rate = jack_get_sample_rate(s.client);
  auto frames = static_cast<size_t>(std::atof(argv[3]) * rate);
  s.left.assign(frames, 0.f);
  s.right.assign(frames, 0.f);
  s.events = Phrase(rate);
  s.midiOut = jack_port_register(s.client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  s.in[0] = jack_port_register(s.client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  s.in[1] = jack_port_register(s.client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(s.client, Process, &s);
  if (!s.midiOut || !s.in[0] || !s.in[1] || jack_activate(s.client) != 0) {
    std::fprintf(stderr, "pelvane_jack_phrase: cannot register ports\n");
    return 2;
  }
  std::printf("ready: %s\n", jack_get_client_name(s.client));
  std::fflush(stdout);

  // Pelvane connects its MIDI input and its output when Start opens them.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!(Connected(s.midiOut) && Connected(s.in[0]))) {
    if (std::chrono::steady_clock::now() > deadline) {
      std::fprintf(stderr, "pelvane_jack_phrase: Pelvane never connected\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::printf("connected\n");
  std::fflush(stdout);
  s.armed.store(true, std::memory_order_release);
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (s.recorded.load(std::memory_order_acquire) < frames &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  jack_client_close(s.client);
  size_t got = s.recorded.load(std::memory_order_acquire);
  if (!WriteWav(argv[2], s.left, s.right, got, static_cast<uint32_t>(rate)))
    std::fprintf(stderr, "pelvane_jack_phrase: cannot write %s\n", argv[2]);
  std::printf("recorded %.2f s to %s\n", static_cast<double>(got) / rate, argv[2]);
  return Analyse(s.left, s.right, got, rate) ? 0 : 1;
}
