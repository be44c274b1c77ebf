// The debugger output on Linux is standard error, and a write there can block
// for as long as nobody reads it (a terminal on hold, a pager, a full pipe).
// So a caller only copies its line into a ring of fixed slots made at start-up
// and returns: no allocation, no lock, no wait, so that a real-time thread or
// one holding the mixer's lock may log. A writer thread of its own ("log
// writer") writes the lines in order, each whole. While standard error is
// stalled and the ring is full, lines are dropped and counted, and once the
// ring has drained one line tells how many were lost. Whatever is still
// queued when the process exits normally is written first.
#include "platform/DebugOutput.h"

#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Ring.h"

namespace platform {

namespace {

// A line takes as many slots as its bytes need, after a 4-byte length.
struct Chunk {
  char bytes[128];
};
constexpr uint32_t kChunks = 8192;  // 1 MB: thousands of ordinary lines
// The longest line kept whole: a log line of 1024 characters with every one
// escaped as \xNN, and its line feed. Longer ones are cut.
constexpr size_t kLineMax = 4 * 1024 + 8;
// At exit the ring is written out while standard error takes it; a stream
// that has taken nothing for this long is given up.
constexpr int kExitPatienceMs = 2000;

std::atomic<DebugOutputHook> g_hook{nullptr};
std::atomic<void*> g_hookContext{nullptr};

// Writes all of text to standard error; false when the stream is gone.
bool WriteAll(const char* text, size_t length) {
  while (length > 0) {
    ssize_t done = write(2, text, length);
    if (done > 0) {
      text += done;
      length -= static_cast<size_t>(done);
    } else if (done < 0 && errno == EINTR) {
      continue;
    } else if (done < 0 && errno == EAGAIN) {
      pollfd wait = {2, POLLOUT, 0};
      poll(&wait, 1, -1);
    } else {
      return false;
    }
  }
  return true;
}

void PauseMs(long ms) {
  const timespec pause = {0, ms * 1000000};
  nanosleep(&pause, nullptr);
}

class Writer {
 public:
  Writer() : ring_(kChunks) { sem_init(&wake_, 0, 0); }

  // Any thread: queues text (or writes it at once when writing directly).
  // A text without a line feed at its end waits for the rest of its line
  // from the same thread, so that lines of two threads never interleave.
  void Put(const char* text) {
    size_t length = std::strlen(text);
    if (length == 0) return;
    const bool ends = text[length - 1] == '\n';
    const size_t room = sizeof t_partial - t_partialLength;
    const size_t kept = std::min(length, room);
    std::memcpy(t_partial + t_partialLength, text, kept);
    t_partialLength += kept;
    if (!ends) return;
    // A cut line still ends with its line feed.
    if (kept < length) t_partial[t_partialLength - 1] = '\n';
    length = t_partialLength;
    t_partialLength = 0;
    if (direct_.load(std::memory_order_acquire)) {
      WriteAll(t_partial, length);
      return;
    }
    const uint32_t chunks =
        static_cast<uint32_t>((sizeof(uint32_t) + length + sizeof(Chunk) - 1) / sizeof(Chunk));
    const uint32_t size = static_cast<uint32_t>(length);
    const bool queued = ring_.TryPushRun(chunks, [&](Chunk& chunk, uint32_t index) {
      // The record's bytes: its length, then the line, cut into chunks.
      const size_t at = size_t(index) * sizeof(Chunk);
      size_t into = 0;
      if (index == 0) {
        std::memcpy(chunk.bytes, &size, sizeof size);
        into = sizeof size;
      }
      const size_t from = at + into - sizeof size;
      const size_t count = std::min(sizeof(Chunk) - into, length - from);
      std::memcpy(chunk.bytes + into, t_partial + from, count);
    });
    if (!queued) lost_.fetch_add(1, std::memory_order_relaxed);
    // A dropped line wakes the writer too: its count is told once the ring
    // has drained, even when no other line follows.
    sem_post(&wake_);
  }

  // From now on texts are written by their caller, in the calling thread.
  void WriteDirectly() {
    Drain();
    direct_.store(true, std::memory_order_release);
    // Lines queued while the switch was made.
    Drain();
  }

  // At normal exit: writes out what is queued (while standard error takes it).
  void Drain() {
    if (!started_) return;
    uint64_t seen = written_.load();
    int idleMs = 0;
    while (ring_.Size() > 0 || busy_.load() || lost_.load() > 0) {
      sem_post(&wake_);
      PauseMs(2);
      const uint64_t now = written_.load();
      if (now != seen) {
        seen = now;
        idleMs = 0;
      } else if ((idleMs += 2) > kExitPatienceMs) {
        break;
      }
    }
  }

  // Without a thread of its own the output is written directly.
  void Start() {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &Writer::Run, this) != 0) {
      direct_.store(true);
      return;
    }
    pthread_setname_np(thread, "log writer");
    pthread_detach(thread);
    started_ = true;
    std::atexit([] { Instance().WriteDirectly(); });
  }

  static Writer& Instance() {
    // Never destroyed: threads may log while the process exits.
    static Writer* writer = new Writer;
    return *writer;
  }

 private:
  static void* Run(void* self) {
    static_cast<Writer*>(self)->Loop();
    return nullptr;
  }

  void Loop() {
    for (;;) {
      while (sem_wait(&wake_) != 0 && errno == EINTR) {
      }
      busy_.store(true);
      // Whole lines, gathered so that a burst costs few writes.
      size_t gathered = 0;
      while (Chunk* first = ring_.Peek()) {
        uint32_t length;
        std::memcpy(&length, first->bytes, sizeof length);
        const uint32_t chunks =
            static_cast<uint32_t>((sizeof length + length + sizeof(Chunk) - 1) / sizeof(Chunk));
        if (gathered + length > sizeof batch_) {
          WriteAll(batch_, gathered);
          gathered = 0;
        }
        CopyRecord(chunks, length, batch_ + gathered);
        gathered += length;
        ring_.Pop(chunks);
        written_.fetch_add(1);
      }
      if (gathered > 0) WriteAll(batch_, gathered);
      // Told once the ring has drained, so a stall gives one line.
      if (ring_.Size() == 0) {
        if (const uint64_t lost = lost_.exchange(0)) {
          char line[160];
          std::snprintf(
              line, sizeof line,
              "0x%.8X: Debug output: %llu lines lost while standard error was not being read\n",
              static_cast<unsigned>(syscall(SYS_gettid)), static_cast<unsigned long long>(lost));
          WriteAll(line, std::strlen(line));
          written_.fetch_add(1);
        }
      }
      busy_.store(false);
    }
  }

  // Writer thread: the line of the oldest record, chunks long, into out.
  void CopyRecord(uint32_t chunks, uint32_t length, char* out) {
    size_t done = 0;
    for (uint32_t i = 0; i < chunks; ++i) {
      const char* bytes = ring_.Peek(i)->bytes;
      const size_t skip = i == 0 ? sizeof length : 0;
      const size_t count = std::min(sizeof(Chunk) - skip, size_t(length) - done);
      std::memcpy(out + done, bytes + skip, count);
      done += count;
    }
  }

  Ring<Chunk> ring_;
  sem_t wake_;
  std::atomic<uint64_t> lost_{0};     // whole lines dropped since the last report
  std::atomic<uint64_t> written_{0};  // lines written, for the exit's progress check
  std::atomic<bool> busy_{false};     // the writer holds lines taken from the ring
  std::atomic<bool> direct_{false};
  bool started_ = false;
  char batch_[64 * 1024];  // writer thread only
  // Per thread: the beginning of a line whose line feed has not come yet.
  static thread_local char t_partial[kLineMax];
  static thread_local size_t t_partialLength;
};

thread_local char Writer::t_partial[kLineMax];
thread_local size_t Writer::t_partialLength = 0;

// The writer runs from start-up on, so that no logging thread (a real-time
// one least of all) ever has to start it.
const bool g_writerStarted = (Writer::Instance().Start(), true);

}  // namespace

void DebugOutput(const char* text) {
  Writer::Instance().Put(text);
  if (DebugOutputHook hook = g_hook.load()) hook(g_hookContext.load(), text);
}

// The debugger output is standard error here already; a console tool's own
// lines on standard error stay in order with the log's when both are written
// directly.
void CopyDebugOutputToStandardError() { Writer::Instance().WriteDirectly(); }

void SetDebugOutputHook(DebugOutputHook hook, void* context) {
  g_hookContext.store(context);
  g_hook.store(hook);
}

}  // namespace platform
