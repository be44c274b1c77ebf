// synth_jack_phrase: the synthesizer end to end on a running JACK server
// (tests/e2e/synth_jack.sh starts a private one). Run in an empty folder: the
// dump file lands there.
//
// A MIDI source client of our own ("pvtest-phrase:src") plays a phrase into
// the synthesizer's MIDI input; its capture port ("pvtest-phrase:echo") takes
// the synthesizer's echo output; a JackRecorder records the synthesizer's
// audio. All three run in the JACK graph, so every event and every recorded
// frame carries the server's frame time and can be compared exactly. After
// the phrase the synthesizer is stopped and the echo, the dump file and the
// audio are checked. Exit code 0 when everything holds.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
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
#include "support/JackRecorder.h"
#include "synth/DumpFile.h"
#include "synth/Synthesizer.h"

namespace {

constexpr int kRate = 44100;
constexpr int kPeriod = 1024;               // the server's, as the script starts it
constexpr jack_nframes_t kSpacing = 15435;  // 350 ms between messages
constexpr jack_nframes_t kLeadIn = 8 * kPeriod;
constexpr jack_nframes_t kTail = 16 * kPeriod;
// After a release the queued buffers (four of 1024 frames, mixed ahead) still
// hold the note, then the fade takes at most 2033 frames; one JACK period of
// slack for where the message fell in its period.
constexpr jack_nframes_t kReleaseSettle = 4 * 1024 + 2048 + kPeriod;
constexpr double kDefaultToneHz = kRate * 0.0625 / (2 * M_PI);  // base note 64

struct Step {
  std::vector<unsigned char> bytes;
  const char* what;
};

// Channel 0 throughout. Program 5 has no instrument: the default one plays.
const std::vector<Step> kPhrase = {
    {{0xC0, 0x05}, "program change to an empty slot"},
    {{0xB0, 0x07, 0x7F}, "volume 127"},
    {{0x90, 0x3C, 0x64}, "note 60 on"},
    {{0x80, 0x3C, 0x40}, "note 60 off"},
    {{0xB0, 0x07, 0x40}, "volume 64"},
    {{0x90, 0x43, 0x64}, "note 67 on"},
    {{0x90, 0x43, 0x00}, "note 67 off by velocity 0"},
    {{0xB0, 0x40, 0x7F}, "sustain pedal down"},
    {{0x90, 0x40, 0x64}, "note 64 on"},
    {{0x80, 0x40, 0x00}, "note 64 off, held by the pedal"},
    {{0xB0, 0x40, 0x00}, "sustain pedal up"},
};

int g_failures = 0;

void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::fprintf(stderr, "FAIL: ");
  std::vfprintf(stderr, format, args);
  std::fprintf(stderr, "\n");
  va_end(args);
  ++g_failures;
}

uint32_t Word(const std::vector<unsigned char>& bytes) {
  uint32_t word = 0;
  for (size_t i = 0; i < bytes.size(); ++i) word |= uint32_t(bytes[i]) << (8 * i);
  return word;
}

// Plays the phrase on its output port at exact frame times and keeps every
// event that arrives on its input port with the frame time it arrived at.
// The process callback only reads and appends to storage reserved up front;
// counts are published with release stores.
class PhraseClient {
 public:
  PhraseClient() {
    client_ = jack_client_open("pvtest-phrase", JackNoStartServer, nullptr);
    if (!client_) return;
    src_ = jack_port_register(client_, "src", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    echo_ = jack_port_register(client_, "echo", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    sentAt_.assign(kPhrase.size(), 0);
    echoed_.resize(kPhrase.size() * 4);
    jack_set_process_callback(client_, &PhraseClient::Process, this);
    if (!src_ || !echo_ || jack_activate(client_) != 0) {
      jack_client_close(client_);
      client_ = nullptr;
    }
  }
  ~PhraseClient() {
    if (client_) jack_client_close(client_);
  }
  bool Ok() const { return client_ != nullptr; }
  bool Connected() const { return jack_port_connected(src_) > 0 && jack_port_connected(echo_) > 0; }
  void Play() { play_.store(true, std::memory_order_release); }
  size_t Sent() const { return sent_.load(std::memory_order_acquire); }
  jack_nframes_t SentAt(size_t i) const { return sentAt_[i]; }
  struct Echoed {
    jack_nframes_t frame;
    std::vector<unsigned char> bytes;
  };
  std::vector<Echoed> EchoedSoFar() const {
    size_t n = echoCount_.load(std::memory_order_acquire);
    return std::vector<Echoed>(echoed_.begin(), echoed_.begin() + n);
  }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    return static_cast<PhraseClient*>(arg)->Run(frames);
  }

  int Run(jack_nframes_t frames) {
    jack_nframes_t now = jack_last_frame_time(client_);
    void* out = jack_port_get_buffer(src_, frames);
    jack_midi_clear_buffer(out);
    if (play_.load(std::memory_order_acquire)) {
      if (!started_) {
        started_ = true;
        base_ = now + 2 * frames;
      }
      size_t i = sent_.load(std::memory_order_relaxed);
      while (i < kPhrase.size()) {
        jack_nframes_t due = base_ + jack_nframes_t(i) * kSpacing;
        if (int32_t(due - (now + frames)) >= 0) break;
        // A late cycle (an overrun) sends at its start; the time is kept as sent.
        jack_nframes_t offset = int32_t(due - now) > 0 ? due - now : 0;
        const std::vector<unsigned char>& bytes = kPhrase[i].bytes;
        if (jack_midi_event_write(out, offset, bytes.data(), bytes.size()) != 0) break;
        sentAt_[i] = now + offset;
        sent_.store(++i, std::memory_order_release);
      }
    }
    void* in = jack_port_get_buffer(echo_, frames);
    uint32_t count = jack_midi_get_event_count(in);
    size_t n = echoCount_.load(std::memory_order_relaxed);
    for (uint32_t e = 0; e < count && n < echoed_.size(); ++e) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, in, e) != 0) continue;
      Echoed& slot = echoed_[n];
      slot.frame = now + event.time;
      slot.bytes.assign(event.buffer, event.buffer + std::min<size_t>(event.size, 8));
      echoCount_.store(++n, std::memory_order_release);
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* src_ = nullptr;
  jack_port_t* echo_ = nullptr;
  std::atomic<bool> play_{false};
  bool started_ = false;  // process thread only
  jack_nframes_t base_ = 0;
  std::vector<jack_nframes_t> sentAt_;
  std::atomic<size_t> sent_{0};
  std::vector<Echoed> echoed_;
  std::atomic<size_t> echoCount_{0};
};

template <class Pred>
bool WaitFor(Pred pred, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 10) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

int FindMidiIn(const std::string& name) {
  platform::MidiApi& api = platform::CurrentMidiApi();
  uint32_t count = api.InGetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    char text[32];
    if (api.InGetDeviceName(i, text) == platform::kMidiOk && name == text) return int(i);
  }
  return -1;
}

int FindMidiOut(const std::string& name) {
  platform::MidiApi& api = platform::CurrentMidiApi();
  uint32_t count = api.OutGetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    char text[32];
    if (api.OutGetDeviceName(i, text) == platform::kMidiOk && name == text) return int(i);
  }
  return -1;
}

int FindJackWaveOut() {
  platform::WaveOutApi& api = platform::CurrentWaveOutApi();
  uint32_t count = api.GetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    char text[32];
    if (api.GetDeviceName(i, text) == platform::kWaveOk && std::string(text).rfind("JACK", 0) == 0)
      return int(i);
  }
  return -1;
}

// The recording, indexed by server frame time.
class Recording {
 public:
  Recording(const JackRecorder& recorder)
      : recorder_(recorder), start_(recorder.StartFrameTime()), frames_(recorder.Frames()) {}
  jack_nframes_t End() const { return start_ + jack_nframes_t(frames_); }
  bool Has(jack_nframes_t t) const { return int32_t(t - start_) >= 0 && int32_t(t - End()) < 0; }
  int Left(jack_nframes_t t) const { return recorder_.At(t - start_, 0); }
  int Right(jack_nframes_t t) const { return recorder_.At(t - start_, 1); }
  bool Silent(jack_nframes_t t) const { return Left(t) == 0 && Right(t) == 0; }

  // The first sounding frame in [from, to), or `to` when all is silent.
  jack_nframes_t FirstSound(jack_nframes_t from, jack_nframes_t to) const {
    for (jack_nframes_t t = from; t != to; ++t) {
      if (!Silent(t)) return t;
    }
    return to;
  }
  int PeakLeft(jack_nframes_t from, jack_nframes_t to) const {
    int peak = 0;
    for (jack_nframes_t t = from; t != to; ++t) peak = std::max(peak, std::abs(Left(t)));
    return peak;
  }
  // Frequency from the rising zero crossings of the left channel, each placed
  // between its two frames by linear interpolation.
  double Frequency(jack_nframes_t from, jack_nframes_t to) const {
    double first = -1, last = -1;
    int crossings = 0;
    for (jack_nframes_t t = from + 1; t != to; ++t) {
      int a = Left(t - 1), b = Left(t);
      if (a < 0 && b >= 0) {
        double at = double(t - from - 1) + double(-a) / double(b - a);
        if (first < 0) first = at;
        last = at;
        ++crossings;
      }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * double(kRate) / (last - first);
  }

 private:
  const JackRecorder& recorder_;
  jack_nframes_t start_;
  size_t frames_;
};

double Ms(int32_t frames) { return frames * 1000.0 / kRate; }

void CheckEcho(const PhraseClient& phrase) {
  std::vector<PhraseClient::Echoed> echoed = phrase.EchoedSoFar();
  if (echoed.size() != kPhrase.size())
    Fail("echo: %zu messages, sent %zu", echoed.size(), kPhrase.size());
  for (size_t i = 0; i < std::min(echoed.size(), kPhrase.size()); ++i) {
    if (echoed[i].bytes != kPhrase[i].bytes)
      Fail("echo: message %zu (%s) differs", i, kPhrase[i].what);
    if (int32_t(echoed[i].frame - phrase.SentAt(i)) < 0)
      Fail("echo: message %zu came back before it was sent", i);
  }
}

void CheckDump(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    Fail("dump: no %s", path);
    return;
  }
  std::vector<unsigned char> data;
  unsigned char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  std::fclose(f);
  if (data.size() != 8 * kPhrase.size())
    Fail("dump: %zu bytes, expected %zu", data.size(), 8 * kPhrase.size());
  uint32_t previous = 0;
  for (size_t i = 0; i < std::min(data.size() / 8, kPhrase.size()); ++i) {
    const unsigned char* r = &data[i * 8];
    uint32_t stamp = r[0] | r[1] << 8 | r[2] << 16 | uint32_t(r[3]) << 24;
    uint32_t word = r[4] | r[5] << 8 | r[6] << 16 | uint32_t(r[7]) << 24;
    if (word != Word(kPhrase[i].bytes))
      Fail("dump: record %zu holds %08x, expected %08x", i, word, Word(kPhrase[i].bytes));
    if (stamp < previous) Fail("dump: record %zu time stamp %u before %u", i, stamp, previous);
    std::printf("dump record %2zu: %6u ms  %08x  (%s)\n", i, stamp, word, kPhrase[i].what);
    previous = stamp;
  }
}

struct Note {
  size_t on;          // phrase index of its note-on
  size_t releasedBy;  // of the message that releases it
  size_t quietUntil;  // silence holds until this message (the phrase size: the end)
  int note, volume, velocity;
};

void CheckAudio(const Recording& rec, const PhraseClient& phrase) {
  auto at = [&](size_t i) {
    return i < kPhrase.size() ? phrase.SentAt(i) : phrase.SentAt(kPhrase.size() - 1) + kTail;
  };
  if (!rec.Has(at(0)) || !rec.Has(at(kPhrase.size()) - 1)) {
    Fail("audio: the recording does not cover the phrase");
    return;
  }
  if (rec.FirstSound(at(0), at(2)) != at(2)) Fail("audio: sound before the first note-on");

  const Note notes[] = {
      {2, 3, 5, 60, 127, 100}, {5, 6, 8, 67, 64, 100}, {8, 10, kPhrase.size(), 64, 64, 100}};
  std::vector<double> latencies;
  for (const Note& n : notes) {
    jack_nframes_t onMsg = at(n.on), next = at(n.on + 1);
    jack_nframes_t onset = rec.FirstSound(onMsg, next);
    if (onset == next) {
      Fail("audio: note %d has no onset between its message and the next one", n.note);
      continue;
    }
    latencies.push_back(Ms(int32_t(onset - onMsg)));
    std::printf("note %d: onset %.1f ms after its note-on\n", n.note, latencies.back());
    jack_nframes_t analysisEnd = std::min<jack_nframes_t>(next, onset + 8192);
    double expectedHz = kDefaultToneHz * std::pow(2.0, (n.note - 64) / 12.0);
    double hz = rec.Frequency(onset, analysisEnd);
    std::printf("note %d: %.2f Hz (default tone at this note: %.2f Hz)\n", n.note, hz, expectedHz);
    if (std::fabs(hz / expectedHz - 1) > 0.005)
      Fail("audio: note %d at %.2f Hz, expected %.2f Hz", n.note, hz, expectedHz);
    // The tone peaks at 2047; the gain is volume * velocity / 128, applied / 256.
    int gain = n.volume * n.velocity / 128;
    int expectedPeak = 2047 * gain / 256;
    int peak = rec.PeakLeft(onset, analysisEnd);
    std::printf("note %d: peak %d (at most %d)\n", n.note, peak, expectedPeak);
    if (peak > expectedPeak || peak < expectedPeak * 95 / 100)
      Fail("audio: note %d peaks at %d, expected %d", n.note, peak, expectedPeak);
    jack_nframes_t offMsg = at(n.releasedBy), quietTo = at(n.quietUntil);
    jack_nframes_t sound = rec.FirstSound(offMsg + kReleaseSettle, quietTo);
    if (sound != quietTo)
      Fail("audio: note %d still sounds %.1f ms after its release", n.note,
           Ms(int32_t(sound - offMsg)));
  }
  // The pedal holds note 64 after its note-off, until the pedal goes up.
  if (rec.FirstSound(at(9) + kReleaseSettle, at(10)) == at(10))
    Fail("audio: note 64 stopped while the pedal was down");
  if (!latencies.empty()) {
    double worst = *std::max_element(latencies.begin(), latencies.end());
    std::printf(
        "latency from note-on message to onset: worst %.1f ms = %.2f periods of %d frames\n", worst,
        worst * kRate / 1000.0 / kPeriod, kPeriod);
  }
}

}  // namespace

int main() {
  LogPlatformNotices();
  BuildPitchTable();
  auto* instrument = new Instrument();
  instrument->MakeDefault();
  InstrumentTable[DEFAULT_INSTRUMENT_SLOT] = instrument;

  PhraseClient phrase;
  JackRecorder recorder(size_t(kRate) * 30);
  if (!phrase.Ok() || !recorder.Ok()) {
    std::fprintf(stderr, "FAIL: no JACK server\n");
    return 1;
  }
  int midiIn = FindMidiIn("JACK: pvtest-phrase:src");
  int echo = FindMidiOut("JACK: pvtest-phrase:echo");
  int wave = FindJackWaveOut();
  if (midiIn < 0 || echo < 0 || wave < 0) {
    std::fprintf(stderr, "FAIL: devices not listed (MIDI in %d, echo %d, wave %d)\n", midiIn, echo,
                 wave);
    return 1;
  }

  platform::FileHandle dump = CreateDumpFile();
  auto* synthesizer = new Synthesizer(uint32_t(wave), midiIn, echo, dump);
  // The wave output's JACK client is "Pelvane"; it may take a moment to appear.
  bool audioWired =
      WaitFor([&] { return recorder.Connect("Pelvane:outport 0", "Pelvane:outport 1"); }, 10000);
  bool wired = audioWired && WaitFor([&] { return phrase.Connected(); }, 10000);
  if (!wired) {
    Fail(audioWired ? "the synthesizer's MIDI ports did not connect to ours"
                    : "no audio ports \"Pelvane:outport 0/1\"");
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(kLeadIn * 1000 / kRate));
    phrase.Play();
    double phraseMs = (kPhrase.size() * kSpacing + kTail) * 1000.0 / kRate;
    if (!WaitFor([&] { return phrase.Sent() == kPhrase.size(); }, int(phraseMs) + 10000))
      Fail("the phrase was not sent");
    // Until the recording holds the tail, in the server's frames: a loaded
    // server runs behind the wall clock.
    const jack_nframes_t tailEnd = phrase.SentAt(kPhrase.size() - 1) + kTail;
    if (!WaitFor(
            [&] {
              return recorder.Frames() > 0 &&
                     int32_t(recorder.StartFrameTime() + jack_nframes_t(recorder.Frames()) -
                             tailEnd) >= 0;
            },
            int(kTail * 1000 / kRate) + 10000))
      Fail("the recording did not reach the end of the phrase's tail");
  }
  Recording recording(recorder);  // taken before the stop, while the graph still runs
  delete synthesizer;             // Stop: the dump file is complete once this returns

  if (wired) {
    CheckEcho(phrase);
    CheckDump("dump0001.pvd");
    if (recorder.Gaps() != 0) Fail("audio: the recorder missed %zu periods", recorder.Gaps());
    CheckAudio(recording, phrase);
  }
  std::printf("%s (%d failures)\n", g_failures ? "FAILED" : "PASSED", g_failures);
  return g_failures ? 1 : 0;
}
