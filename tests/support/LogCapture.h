// Captures the debugger output while in scope: every log line, from any
// thread, with the thread-id prefix ("0x%.8X: ") and the separate line feeds
// kept apart. Lines() gives the texts without the prefix, in output order;
// Entries() gives them with the id of the thread that logged each.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DebugOutput.h"

class LogCapture {
 public:
  struct Line {
    uint32_t thread;
    std::string text;
  };

  LogCapture() { platform::SetDebugOutputHook(&LogCapture::Hook, this); }
  ~LogCapture() { platform::SetDebugOutputHook(nullptr, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything written, in order: lines and line feeds as separate entries.
  std::vector<std::string> Raw() {
    std::lock_guard<std::mutex> hold(mutex_);
    return raw_;
  }
  // The log texts without the 12-character thread prefix.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (const std::string& entry : Raw())
      if (entry != "\n") lines.push_back(Text(entry));
    return lines;
  }
  // The log lines with the id of the thread that wrote each.
  std::vector<Line> Entries() {
    std::vector<Line> lines;
    for (const std::string& entry : Raw())
      if (entry != "\n")
        lines.push_back({entry.size() >= 12
                             ? static_cast<uint32_t>(std::strtoul(entry.c_str() + 2, nullptr, 16))
                             : 0u,
                         Text(entry)});
    return lines;
  }
  // The texts that begin with prefix, in order.
  std::vector<std::string> Starting(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& text : Lines())
      if (text.compare(0, prefix.size(), prefix) == 0) found.push_back(text);
    return found;
  }
  // Waits (up to timeoutMs) until a line with exactly this text was written.
  bool WaitFor(const std::string& text, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
      for (const std::string& entry : raw_)
        if (entry.size() >= 12 && entry.compare(12, std::string::npos, text) == 0) return true;
      return false;
    });
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    raw_.clear();
  }

 private:
  static std::string Text(const std::string& entry) {
    return entry.size() >= 12 ? entry.substr(12) : entry;
  }
  static void Hook(void* context, const char* text) {
    auto* self = static_cast<LogCapture*>(context);
    // The hook and its context are swapped one after the other.
    if (!self) return;
    {
      std::lock_guard<std::mutex> hold(self->mutex_);
      self->raw_.push_back(text);
    }
    self->changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> raw_;
};
