// The debugger output on Linux is standard error, and a write there can block
// for as long as nobody reads it (a terminal on hold, a pager, a full pipe).
// So a caller only queues its text and returns; a writer thread of its own
// writes the lines in order, each whole. The queue is bounded: while standard
// error is stalled, lines beyond the bound are dropped and counted, and once
// the queue has drained one line tells how many were lost. Whatever is still
// queued when the process exits normally is written first.
#include "platform/DebugOutput.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

namespace {

// Lines waiting for the writer.
constexpr size_t kQueueBound = 2048;
// At exit the queue is written out while standard error takes it; a stream
// that has taken nothing for this long is given up.
constexpr auto kExitPatience = std::chrono::seconds(2);

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

class Writer {
 public:
  // Any thread: queues text (or writes it at once when writing directly).
  // A text without a line feed at its end waits for the rest of its line
  // from the same thread, so that lines of two threads never interleave.
  void Put(const char* text) {
    const size_t length = std::strlen(text);
    if (length == 0) return;
    if (text[length - 1] != '\n') {
      t_partial.append(text, length);
      return;
    }
    std::string line;
    line.swap(t_partial);
    line.append(text, length);
    std::unique_lock<std::mutex> hold(mutex_);
    if (direct_ || (!started_ && !Start())) {
      hold.unlock();
      WriteAll(line.data(), line.size());
      return;
    }
    if (queue_.size() >= kQueueBound) {
      for (char c : line) lost_ += c == '\n';
      return;
    }
    queue_.push_back(std::move(line));
    hold.unlock();
    wake_.notify_one();
  }

  // From now on texts are written by their caller, in the calling thread.
  void WriteDirectly() {
    Drain();
    std::lock_guard<std::mutex> hold(mutex_);
    direct_ = true;
  }

  // At normal exit: writes out what is queued, then writes directly.
  void Drain() {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!started_) return;
    uint64_t seen = written_;
    auto lastProgress = std::chrono::steady_clock::now();
    while (!queue_.empty() || busy_ || lost_ > 0) {
      drained_.wait_for(hold, std::chrono::milliseconds(100));
      if (written_ != seen) {
        seen = written_;
        lastProgress = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - lastProgress > kExitPatience) {
        break;
      }
    }
  }

 private:
  // Without a thread of its own the output is written directly.
  bool Start() {
    try {
      std::thread(&Writer::Run, this).detach();
    } catch (...) {
      direct_ = true;
      return false;
    }
    started_ = true;
    std::atexit([] { Instance().WriteDirectly(); });
    return true;
  }

  void Run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      wake_.wait(hold, [this] { return !queue_.empty() || lost_ > 0; });
      std::deque<std::string> batch;
      batch.swap(queue_);
      busy_ = true;
      hold.unlock();
      for (const std::string& text : batch) WriteAll(text.data(), text.size());
      hold.lock();
      written_ += batch.size();
      if (queue_.empty() && lost_ > 0) {
        const uint64_t lost = lost_;
        lost_ = 0;
        hold.unlock();
        char line[160];
        std::snprintf(
            line, sizeof line,
            "0x%.8X: Debug output: %llu lines lost while standard error was not being read\n",
            static_cast<unsigned>(syscall(SYS_gettid)), static_cast<unsigned long long>(lost));
        WriteAll(line, std::strlen(line));
        hold.lock();
      }
      busy_ = false;
      drained_.notify_all();
    }
  }

 public:
  static Writer& Instance() {
    // Never destroyed: threads may log while the process exits.
    static Writer* writer = new Writer;
    return *writer;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<std::string> queue_;
  uint64_t lost_ = 0;     // whole lines dropped since the last report
  uint64_t written_ = 0;  // lines written, for the exit's progress check
  bool busy_ = false;     // the writer holds a batch
  bool started_ = false;
  bool direct_ = false;
  // Per thread: the beginning of a line whose line feed has not come yet.
  static thread_local std::string t_partial;
};

thread_local std::string Writer::t_partial;

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
