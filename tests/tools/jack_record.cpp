// pelvane_jack_record OUT.wav CLIENT READY_FILE MAX_SECONDS
// A JACK client that waits for CLIENT's ports "outport 0" and "outport 1",
// connects them to its own inputs, creates READY_FILE, and records until it
// gets SIGTERM or SIGINT (or MAX_SECONDS pass), then writes a 16-bit stereo
// WAV file of what it heard, at the server's rate.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/JackRecorder.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void Put32(std::FILE* f, uint32_t v) {
  for (int i = 0; i < 4; ++i) std::fputc((v >> (8 * i)) & 0xFF, f);
}
void Put16(std::FILE* f, uint16_t v) {
  std::fputc(v & 0xFF, f);
  std::fputc(v >> 8, f);
}

bool WriteWave(const char* path, const JackRecorder& recorder, size_t frames, uint32_t rate) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  uint32_t bytes = static_cast<uint32_t>(frames * 4);
  std::fwrite("RIFF", 1, 4, f);
  Put32(f, 36 + bytes);
  std::fwrite("WAVEfmt ", 1, 8, f);
  Put32(f, 16);
  Put16(f, 1);
  Put16(f, 2);
  Put32(f, rate);
  Put32(f, rate * 4);
  Put16(f, 4);
  Put16(f, 16);
  std::fwrite("data", 1, 4, f);
  Put32(f, bytes);
  for (size_t i = 0; i < frames; ++i) {
    Put16(f, static_cast<uint16_t>(recorder.At(i, 0)));
    Put16(f, static_cast<uint16_t>(recorder.At(i, 1)));
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s OUT.wav CLIENT READY_FILE MAX_SECONDS\n", argv[0]);
    return 2;
  }
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  const int maxSeconds = std::atoi(argv[4]);
  JackRecorder recorder(size_t(96000) * maxSeconds);
  if (!recorder.Ok()) {
    std::fprintf(stderr, "jack_record: no JACK server\n");
    return 1;
  }
  const std::string client = argv[2];
  bool connected = false;
  for (int waited = 0; !g_stop && waited < maxSeconds * 1000; waited += 5) {
    if (!connected && recorder.Connect(client + ":outport 0", client + ":outport 1")) {
      connected = true;
      if (std::FILE* ready = std::fopen(argv[3], "w")) std::fclose(ready);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!connected) {
    std::fprintf(stderr, "jack_record: %s never showed its ports\n", client.c_str());
    return 1;
  }
  size_t frames = recorder.Frames();
  std::fprintf(stderr, "jack_record: %zu frames\n", frames);
  return WriteWave(argv[1], recorder, frames, recorder.Rate()) ? 0 : 1;
}
