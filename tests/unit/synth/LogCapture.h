// Collects the log lines written while it lives, from every thread, through
// the debugger-output hook: each line without its 12-character thread prefix,
// with the id of the thread that logged it.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
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

  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::string> texts;
    for (const Line& line : lines_) texts.push_back(line.text);
    return texts;
  }
  std::vector<Line> Lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }
  // The lines that begin with prefix, in order.
  std::vector<std::string> Starting(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& text : Texts())
      if (text.compare(0, prefix.size(), prefix) == 0) found.push_back(text);
    return found;
  }
  // Waits up to timeoutMs for a line equal to text.
  bool WaitFor(const std::string& text, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
      for (const Line& line : lines_)
        if (line.text == text) return true;
      return false;
    });
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.clear();
  }

 private:
  static void Hook(void* context, const char* text) {
    auto* self = static_cast<LogCapture*>(context);
    // The hook and its context are swapped one after the other.
    if (!self || std::strcmp(text, "\n") == 0) return;
    // "0x%.8X: " then the caller's text.
    Line line{static_cast<uint32_t>(std::strtoul(text + 2, nullptr, 16)),
              std::strlen(text) >= 12 ? std::string(text + 12) : std::string()};
    {
      std::lock_guard<std::mutex> hold(self->mutex_);
      self->lines_.push_back(std::move(line));
    }
    self->changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Line> lines_;
};
