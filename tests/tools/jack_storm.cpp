// pelvane_jack_storm COUNT MILLISECONDS
// A burst of devices: opens COUNT JACK clients "pvstorm-N", each with two
// audio inputs and a MIDI output (a wave device and a MIDI source to list),
// spread evenly over MILLISECONDS, then holds them until SIGTERM or SIGINT
// and closes them all. Prints "half up" once half of them are there and
// "all N up" once the last is, "all gone" once every one is closed.
//
// The close is bounded, so that a wedged server or client library never
// holds the test (a sanitizer-built storm once deadlocked in its runtime's
// lock there, as libjack stops a client's threads with pthread_cancel): after
// kTeardownBound the process ends without the rest ("teardown stuck" on
// standard error), and the server drops the clients whose connections went
// with it.
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }
constexpr auto kTeardownBound = std::chrono::seconds(20);
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pelvane_jack_storm COUNT MILLISECONDS\n");
    return 2;
  }
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  const int count = std::atoi(argv[1]);
  const auto spacing =
      std::chrono::microseconds(std::atoll(argv[2]) * 1000 / (count > 0 ? count : 1));
  std::vector<jack_client_t*> clients;
  for (int i = 0; i < count && !g_stop; ++i) {
    const std::string name = "pvstorm-" + std::to_string(i);
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (client == nullptr) {
      std::fprintf(stderr, "pelvane_jack_storm: cannot open %s\n", name.c_str());
      break;
    }
    clients.push_back(client);
    jack_port_register(client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_port_register(client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (i + 1 == count / 2) {
      std::printf("half up\n");
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(spacing);
  }
  if (static_cast<int>(clients.size()) == count) std::printf("all %d up\n", count);
  std::fflush(stdout);
  while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::atomic<size_t> closed{0};
  std::thread closer([&] {
    for (jack_client_t* client : clients) {
      jack_client_close(client);
      closed.fetch_add(1);
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + kTeardownBound;
  while (closed.load() < clients.size() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (closed.load() < clients.size()) {
    std::fprintf(stderr, "pelvane_jack_storm: teardown stuck after %zu of %zu clients\n",
                 closed.load(), clients.size());
    std::fflush(nullptr);
    _exit(3);
  }
  closer.join();
  std::printf("all gone\n");
  std::fflush(stdout);
  return static_cast<int>(clients.size()) == count ? 0 : 1;
}
