// A MIDI flood into the running program, end to end: a JACK client with a MIDI
// output port starts Pelvane (driven through PELVANE_CONTROL=stdin, its
// standard error read and time-stamped here), has it choose the JACK system
// output and this port, presses Start, and sends RATE note messages a second,
// evenly spread over each period, for SECONDS. After STOP seconds it sends
// "stop" and measures how long the window takes: to its "Stopping" line and
// to the end of the synthesizer's shutdown ("Mixer: IsShutdown()"). It keeps
// the flood going to the end, samples Pelvane's resident memory, closes the
// window and checks the dump file: the flood's messages, in order, from the
// first, at least all of those sent before the stop. (Just before the stop
// the flood pauses until the dump holds what was sent: Pelvane receives a
// message only in its own process callback, which may run after the stop.)
//
//   pelvane_jack_flood PELVANE FOLDER RATE SECONDS STOP [LIMIT]
//
// With LIMIT, the bytes a file may hold (the file-size limit Pelvane runs
// under, or a full disk): the dump is then the flood's first LIMIT / 8
// messages exactly, and the log says once that a write failed.
//
// PELVANE_FLOOD_MEMORY_MB sets the bound on resident memory (200 unless set;
// 0: none, for sanitizer builds, whose shadow memory alone is larger).
//
// PELVANE_FLOOD_LOSSY=1 is for a flood faster than Pelvane can handle: then
// messages are lost, and the checks become that every loss is told and the
// dump holds exactly the messages handled: the records are flood messages in
// the order sent, none twice; the gaps between them (from the first record
// on, which came once the input had started) are at most the losses
// told, and what the told losses leave over is at most what was sent after
// the last record. Resident memory must stay flat from 5 s on (highest minus
// lowest under 20 MB) and a line must tell of lost messages.
//
// Exit code 0 when every check holds; the figures go to standard output.
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Message k of the flood: note-on and note-off pairs walking over five octaves
// and every velocity, so that a lost or repeated message shows in the dump.
bool g_lossy = false;  // PELVANE_FLOOD_LOSSY, read once

uint32_t FloodMessage(uint64_t k) {
  if (g_lossy) {
    // Every note, velocity and channel in turn: a sequence that repeats only
    // after 520,192 messages, so that a record is found again after a gap.
    const uint32_t pair = static_cast<uint32_t>(k / 2);
    const uint32_t note = pair % 128, velocity = 1 + pair / 128 % 127, channel = pair / 16256 % 16;
    return k % 2 == 0 ? (0x90 | channel | note << 8 | velocity << 16)
                      : (0x80 | channel | note << 8);
  }
  const uint32_t pair = static_cast<uint32_t>(k / 2);
  const uint32_t note = 36 + pair % 60;
  const uint32_t velocity = 1 + pair % 127;
  return k % 2 == 0 ? (0x90 | note << 8 | velocity << 16) : (0x80 | note << 8);
}

struct Flood {
  jack_port_t* port = nullptr;
  double perFrame = 0;  // messages per frame
  std::atomic<bool> running{false};
  std::atomic<uint64_t> sent{0};
  std::atomic<uint64_t> refused{0};  // writes the port's buffer had no room for
  std::atomic<uint64_t> cycles{0};   // process callbacks ended
  double due = 0;                    // process thread only
};

int Process(jack_nframes_t frames, void* arg) {
  auto* flood = static_cast<Flood*>(arg);
  void* buffer = jack_port_get_buffer(flood->port, frames);
  jack_midi_clear_buffer(buffer);
  if (!flood->running.load(std::memory_order_acquire)) {
    flood->cycles.fetch_add(1, std::memory_order_release);
    return 0;
  }
  flood->due += flood->perFrame * frames;
  const uint64_t count = static_cast<uint64_t>(flood->due);
  flood->due -= static_cast<double>(count);
  uint64_t k = flood->sent.load(std::memory_order_relaxed);
  for (uint64_t i = 0; i < count; ++i) {
    const uint32_t word = FloodMessage(k);
    const uint8_t bytes[3] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                              static_cast<uint8_t>(word >> 16)};
    const jack_nframes_t at = static_cast<jack_nframes_t>(i * frames / count);
    if (jack_midi_event_write(buffer, at, bytes, 3) != 0) {
      flood->refused.fetch_add(count - i, std::memory_order_relaxed);
      break;
    }
    ++k;
  }
  flood->sent.store(k, std::memory_order_release);
  flood->cycles.fetch_add(1, std::memory_order_release);
  return 0;
}

long FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  return file ? static_cast<long>(file.tellg()) : -1;
}

// Pelvane's standard error, read as it comes: the first time each watched
// text appears (after arming), and the line count.
class ErrorReader {
 public:
  explicit ErrorReader(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~ErrorReader() { thread_.join(); }

  // The time the first line containing text arrived at or after since; false
  // until then.
  bool Seen(const std::string& text, Clock::time_point since, Clock::time_point* when) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const Mark& mark : marks_)
      if (mark.at >= since && mark.line.find(text) != std::string::npos) {
        *when = mark.at;
        return true;
      }
    return false;
  }
  uint64_t Lines() const { return lines_.load(); }
  // The kept lines containing text.
  std::vector<std::string> Matching(const std::string& text) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::string> found;
    for (const Mark& mark : marks_)
      if (mark.line.find(text) != std::string::npos) found.push_back(mark.line);
    return found;
  }
  // Kept lines containing text.
  size_t Count(const std::string& text) {
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<size_t>(std::count_if(marks_.begin(), marks_.end(), [&](const Mark& mark) {
      return mark.line.find(text) != std::string::npos;
    }));
  }
  // The kept lines from since on, with their arrival in ms after it.
  void Print(Clock::time_point since) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const Mark& mark : marks_)
      if (mark.at >= since) std::printf("  %8.1f ms  %s\n", Ms(mark.at - since), mark.line.c_str());
  }

 private:
  struct Mark {
    Clock::time_point at;
    std::string line;
  };
  void Run() {
    std::string pending;
    char chunk[65536];
    for (;;) {
      ssize_t got = read(fd_, chunk, sizeof chunk);
      if (got <= 0) break;
      const Clock::time_point now = Clock::now();
      pending.append(chunk, static_cast<size_t>(got));
      size_t start = 0, end;
      while ((end = pending.find('\n', start)) != std::string::npos) {
        lines_.fetch_add(1);
        // The flood's own note lines are only counted; the rest is kept. The
        // line feed of a line is written apart from it, so another thread's
        // line may run into it: such a line is kept too.
        const std::string line = pending.substr(start, end - start);
        const bool note = line.size() > 26 && line.compare(12, 14, "Midi-In: Note ") == 0 &&
                          line.find("0x", 2) == std::string::npos;
        if (!note) {
          std::lock_guard<std::mutex> hold(mutex_);
          marks_.push_back({now, line});
        }
        start = end + 1;
      }
      pending.erase(0, start);
    }
  }
  int fd_;
  std::atomic<uint64_t> lines_{0};
  std::mutex mutex_;
  std::vector<Mark> marks_;
  std::thread thread_;
};

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "pelvane_jack_flood: %s\n", what);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: pelvane_jack_flood PELVANE FOLDER RATE SECONDS STOP [LIMIT]\n");
    return 2;
  }
  const uint64_t limit = argc == 7 ? std::strtoull(argv[6], nullptr, 10) : 0;
  const std::string program = argv[1], folder = argv[2];
  const double rate = std::atof(argv[3]);
  const double seconds = std::atof(argv[4]), stopAfter = std::atof(argv[5]);

  // A file-size limit is meant for Pelvane; this tool (and JACK's library in
  // it) must not end on it.
  signal(SIGXFSZ, SIG_IGN);
  g_lossy = std::getenv("PELVANE_FLOOD_LOSSY") != nullptr;
  jack_status_t status;
  jack_client_t* client = jack_client_open("pvflood", JackNoStartServer, &status);
  if (!client) return Fail("no JACK server"), 1;
  Flood flood;
  flood.perFrame = rate / jack_get_sample_rate(client);
  flood.port = jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  jack_set_process_callback(client, Process, &flood);
  if (!flood.port || jack_activate(client) != 0) return Fail("cannot activate the JACK client"), 1;

  int toPelvane[2], fromPelvane[2];
  if (pipe(toPelvane) != 0 || pipe(fromPelvane) != 0) return Fail("pipe"), 1;
  signal(SIGPIPE, SIG_IGN);
  const pid_t pid = fork();
  if (pid == 0) {
    // Should this tool end early, Pelvane goes with it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Pelvane has to keep running past the limit by itself.
    signal(SIGXFSZ, SIG_DFL);
    dup2(toPelvane[0], 0);
    dup2(fromPelvane[1], 2);
    close(toPelvane[1]);
    close(fromPelvane[0]);
    if (chdir(folder.c_str()) != 0) _exit(127);
    setenv("PELVANE_CONTROL", "stdin", 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toPelvane[0]);
  close(fromPelvane[1]);
  // Room for a burst of lines while this reader is not running.
  fcntl(fromPelvane[0], F_SETPIPE_SZ, 1 << 20);
  ErrorReader errors(fromPelvane[0]);
  auto command = [&](const std::string& text) {
    const std::string line = text + "\n";
    return write(toPelvane[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
  };
  auto waitFor = [&](const std::string& text, Clock::time_point since, double timeoutSeconds,
                     Clock::time_point* when) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<int>(timeoutSeconds * 1000));
    while (!errors.Seen(text, since, when)) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  };

  bool ok = true;
  Clock::time_point when;
  const Clock::time_point begin = Clock::now();
  long peakKiB = 0;
  // Resident memory from 5 s into the flood on.
  long settledLowKiB = -1, settledHighKiB = -1;
  uint64_t sentAtStop = 0;
  Clock::time_point stopAt;
  double toStopping = -1, toShutdown = -1, toExit = -1;
  if (!waitFor(": Pelvane ready", begin, 30, &when)) {
    ok = Fail("Pelvane did not get ready");
  } else {
    command("select wave system");
    command("select midiin pvflood");
    command("start");
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    while (jack_port_connected(flood.port) == 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (jack_port_connected(flood.port) == 0)
      ok = Fail("Pelvane did not connect to the flood's port");
  }
  // Without losses or a limit, every message sent before the stop must be in
  // the dump.
  const bool lossless = !g_lossy && limit == 0;
  const std::string dumpPath = folder + "/dump0001.pvd";
  if (ok) {
    const Clock::time_point start = Clock::now();
    flood.running.store(true, std::memory_order_release);
    bool stopSent = false;
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
      const long residentKiB = ResidentKiB(pid);
      peakKiB = std::max(peakKiB, residentKiB);
      if (residentKiB > 0 && Clock::now() - start >= std::chrono::seconds(5)) {
        settledLowKiB = settledLowKiB < 0 ? residentKiB : std::min(settledLowKiB, residentKiB);
        settledHighKiB = std::max(settledHighKiB, residentKiB);
      }
      if (!stopSent && Clock::now() - start >= std::chrono::duration<double>(stopAfter)) {
        if (!lossless) {
          sentAtStop = flood.sent.load();
        } else {
          // A message this tool has written reaches Pelvane only in its own
          // process callback, which a loaded machine may hold up past the
          // stop command: then it was sent before the stop but never
          // received. So the flood pauses, and the stop goes once the dump
          // holds every message sent (it is written a record at a time).
          flood.running.store(false, std::memory_order_release);
          const uint64_t cycle = flood.cycles.load(std::memory_order_acquire);
          const Clock::time_point bound = Clock::now() + std::chrono::seconds(30);
          while (flood.cycles.load(std::memory_order_acquire) < cycle + 2 && Clock::now() < bound)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          sentAtStop = flood.sent.load();
          while (FileBytes(dumpPath) < static_cast<long>(sentAtStop * 8) && Clock::now() < bound)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          if (FileBytes(dumpPath) < static_cast<long>(sentAtStop * 8))
            ok = Fail("the dump did not take the messages sent within 30 s");
        }
        stopAt = Clock::now();
        command("stop");
        stopSent = true;
        flood.running.store(true, std::memory_order_release);
      }
      if (stopSent && toShutdown < 0 && errors.Seen("Mixer: IsShutdown()", stopAt, &when)) {
        toShutdown = Ms(when - stopAt);
        if (errors.Seen("Stopping synthesizer, please wait...", stopAt, &when))
          toStopping = Ms(when - stopAt);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    flood.running.store(false);
    // A generous deadline, only so that a window that never stops ends the test.
    if (toShutdown < 0) {
      if (waitFor("Mixer: IsShutdown()", stopAt, 10, &when)) {
        toShutdown = Ms(when - stopAt);
        if (errors.Seen("Stopping synthesizer, please wait...", stopAt, &when))
          toStopping = Ms(when - stopAt);
      } else {
        ok = Fail("the stop did not end within 10 s after the flood");
      }
    }
  }
  const Clock::time_point closeAt = Clock::now();
  command("close");
  close(toPelvane[1]);
  int waitStatus = 0;
  bool exited = false;
  for (int i = 0; i < 3000 && !exited; ++i) {
    if (waitpid(pid, &waitStatus, WNOHANG) == pid) {
      exited = true;
      toExit = Ms(Clock::now() - closeAt);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (!exited) {
    kill(pid, SIGTERM);
    waitpid(pid, &waitStatus, 0);
    ok = Fail("Pelvane did not exit after close");
  } else if (!WIFEXITED(waitStatus) || WEXITSTATUS(waitStatus) != 0) {
    ok = Fail("Pelvane's exit code was not 0");
  }
  jack_client_close(client);

  // The dump: the flood's messages from the first, in order.
  std::ifstream dumpFile(dumpPath, std::ios::binary);
  const std::vector<char> dump((std::istreambuf_iterator<char>(dumpFile)), {});
  const uint64_t records = dump.size() / 8;
  const bool lossy = g_lossy;
  uint64_t matching = 0;
  uint32_t previousStamp = 0;
  // Lossy: the flood's index of each record, found by walking on from the
  // one before; the messages skipped are the gaps.
  uint64_t index = 0, gaps = 0;
  for (; matching < records; ++matching) {
    uint32_t stamp, word;
    std::memcpy(&stamp, &dump[matching * 8], 4);
    std::memcpy(&word, &dump[matching * 8 + 4], 4);
    if (stamp < previousStamp) break;
    if (lossy) {
      const uint64_t from = index;
      while (index < flood.sent.load() && FloodMessage(index) != word) ++index;
      if (index == flood.sent.load()) break;
      // Messages before the first record came before the input started
      // taking them: not handled, and not lost either.
      if (matching > 0) gaps += index - from;
      ++index;
    } else if (word != FloodMessage(matching)) {
      break;
    }
    previousStamp = stamp;
  }
  std::printf(
      "flood: %.0f messages/s for %.0f s, %llu sent (%llu before the stop), %llu refused by JACK\n",
      rate, seconds, static_cast<unsigned long long>(flood.sent.load()),
      static_cast<unsigned long long>(sentAtStop),
      static_cast<unsigned long long>(flood.refused.load()));
  std::printf(
      "stop sent after %.0f s: 'Stopping' line after %.1f ms, shutdown done after %.1f ms\n",
      stopAfter, toStopping, toShutdown);
  std::printf("close: exited after %.1f ms\n", toExit);
  if (sentAtStop > 0) {
    std::printf("lines from the stop command on, as they arrived:\n");
    errors.Print(stopAt);
  }
  std::printf("resident memory: at most %.1f MB\n", peakKiB / 1024.0);
  std::printf("dump: %llu records (%zu bytes), the first %llu are the flood's in order\n",
              static_cast<unsigned long long>(records), dump.size(),
              static_cast<unsigned long long>(matching));
  std::printf("standard error: %llu lines\n", static_cast<unsigned long long>(errors.Lines()));
  if (dump.size() % 8 != 0 || matching != records)
    ok = Fail("the dump is not the flood's messages in order");
  if (lossy) {
    // Every line that tells of lost messages, summed.
    uint64_t told = 0;
    for (const std::string& line : errors.Matching(" messages lost")) {
      const size_t full = line.find("queue was full, "), lost = line.find("Midi-In: ");
      if (full != std::string::npos)
        told += std::strtoull(line.c_str() + full + 16, nullptr, 10);
      else if (lost != std::string::npos)
        told += std::strtoull(line.c_str() + lost + 9, nullptr, 10);
    }
    const uint64_t after = flood.sent.load() - index;
    std::printf("lost: %llu told, %llu gaps in the dump, %llu sent after its last record\n",
                static_cast<unsigned long long>(told), static_cast<unsigned long long>(gaps),
                static_cast<unsigned long long>(after));
    std::printf("resident memory from 5 s on: %.1f to %.1f MB\n", settledLowKiB / 1024.0,
                settledHighKiB / 1024.0);
    if (told == 0) ok = Fail("no line tells of lost messages");
    // Standard error drops lines itself when it cannot keep up, and says so;
    // a line that told of lost messages may then be among them, and the
    // gaps can only be checked against what was told when none was dropped.
    if (errors.Count("Debug output: ") > 0)
      std::printf(
          "standard error dropped lines: the gaps are not checked against the losses told\n");
    else if (gaps > told)
      ok = Fail("the dump lacks messages no line told of");
    if (told > gaps + after) ok = Fail("more messages told lost than were missing");
    if (settledLowKiB < 0 || settledHighKiB - settledLowKiB >= 20 * 1024)
      ok = Fail("resident memory did not stay flat");
  } else if (limit == 0 && records < sentAtStop) {
    ok = Fail("the dump lacks messages sent before the stop");
  }
  if (limit != 0) {
    if (dump.size() != limit / 8 * 8) ok = Fail("the dump does not end at the last whole record");
    Clock::time_point at;
    if (!errors.Seen("Dump file: write failed (GLE = 27), the rest of this run is not recorded",
                     begin, &at))
      ok = Fail("no line says the dump could not be written");
    if (errors.Count("Dump file: ") != 1) ok = Fail("not exactly one dump file line");
  }
  if (flood.refused.load() != 0) ok = Fail("JACK refused messages: the flood was not sent whole");
  const char* bound = std::getenv("PELVANE_FLOOD_MEMORY_MB");
  const long boundMB = bound ? std::atol(bound) : 200;
  if (peakKiB <= 0) ok = Fail("resident memory not measured");
  if (boundMB > 0 && peakKiB >= boundMB * 1024) ok = Fail("resident memory above the bound");
  return ok ? 0 : 1;
}
