// pelvane_jack_keys CLIENT [NOTE EVERY HOLD]
// A JACK client with a MIDI output port "out" that plays NOTE (channel 1,
// velocity 100) every EVERY frames, each time held for HOLD frames, with
// frame-exact event times, from its first period on; without the three
// numbers it plays nothing. NOTE "chord240" strikes 240 notes at once
// instead: notes 4 to 123 on channels 1 and 2. Its MIDI input port "in" takes whatever comes (an
// echo's destination). On SIGTERM or SIGINT it closes its client and exits
// with 0: a JACK client that dies without closing stalls a synchronous
// server's graph until its time-out.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

struct Keys {
  jack_port_t* port = nullptr;
  bool play = false;
  unsigned char note = 64;
  bool chord = false;
  uint64_t every = 44100;
  uint64_t hold = 22050;
  uint64_t position = 0;  // frames since the first period
};

int Process(jack_nframes_t frames, void* arg) {
  auto* keys = static_cast<Keys*>(arg);
  void* buffer = jack_port_get_buffer(keys->port, frames);
  jack_midi_clear_buffer(buffer);
  for (jack_nframes_t i = 0; keys->play && i < frames; ++i) {
    uint64_t phase = (keys->position + i) % keys->every;
    if (phase != 0 && phase != keys->hold) continue;
    const unsigned char status = phase == 0 ? 0x90 : 0x80;
    const unsigned char velocity = phase == 0 ? 100 : 0;
    if (!keys->chord) {
      unsigned char message[3] = {status, keys->note, velocity};
      jack_midi_event_write(buffer, i, message, 3);
      continue;
    }
    for (unsigned char channel = 0; channel < 2; ++channel)
      for (unsigned char note = 4; note <= 123; ++note) {
        unsigned char message[3] = {static_cast<unsigned char>(status | channel), note, velocity};
        jack_midi_event_write(buffer, i, message, 3);
      }
  }
  keys->position += frames;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 5) {
    std::fprintf(stderr, "usage: %s CLIENT [NOTE EVERY HOLD]\n", argv[0]);
    return 2;
  }
  Keys keys;
  if (argc == 5) {
    keys.play = true;
    keys.chord = std::strcmp(argv[2], "chord240") == 0;
    keys.note = static_cast<unsigned char>(std::atoi(argv[2]) & 0x7F);
    keys.every = std::strtoull(argv[3], nullptr, 10);
    keys.hold = std::strtoull(argv[4], nullptr, 10);
    if (keys.every == 0 || keys.hold == 0 || keys.hold >= keys.every) {
      std::fprintf(stderr, "%s: HOLD must lie between 0 and EVERY\n", argv[0]);
      return 2;
    }
  }
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  jack_client_t* client = jack_client_open(argv[1], JackNoStartServer, nullptr);
  if (!client) {
    std::fprintf(stderr, "%s: no JACK server\n", argv[0]);
    return 1;
  }
  keys.port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  jack_port_t* in = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(client, Process, &keys);
  if (!keys.port || !in || jack_activate(client) != 0) {
    std::fprintf(stderr, "%s: cannot register its port\n", argv[0]);
    jack_client_close(client);
    return 1;
  }
  while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  jack_client_close(client);
  return 0;
}
