#include "tools/RenderLog.h"

#include <cstring>

#include "log/Log.h"

RenderLog::RenderLog(std::FILE* out, bool verbose, bool quiet)
    : out_(out), verbose_(verbose), quiet_(quiet) {
  buffer_.reserve(kBufferBytes);
}

void RenderLog::Install() {
  SetLogSink(
      [](void* self, const char* line) {
        // Null only for a line logged while the sink was being removed.
        if (self) static_cast<RenderLog*>(self)->Take(line);
      },
      this);
  installed_ = true;
}

RenderLog::~RenderLog() {
  if (installed_) SetLogSink(nullptr, nullptr);
  Flush();
}

void RenderLog::EndStartUp() {
  std::lock_guard<std::mutex> hold(mutex_);
  startUp_ = false;
}

void RenderLog::Flush() {
  std::lock_guard<std::mutex> hold(mutex_);
  FlushLocked();
}

void RenderLog::FlushLocked() {
  if (buffer_.empty()) return;
  std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
  std::fflush(out_);
  buffer_.clear();
}

void RenderLog::Take(const char* line) {
  if (quiet_) return;
  std::lock_guard<std::mutex> hold(mutex_);
  if (!verbose_ && (!startUp_ || IsProgressLine(line))) return;
  buffer_.append(line);
  buffer_.push_back('\n');
  if (buffer_.size() >= kBufferBytes) FlushLocked();
}

bool RenderLog::IsProgressLine(const char* line) {
  // After the thread prefix "0x%.8X: ".
  const char* text = std::strlen(line) >= 12 ? line + 12 : line;
  static const char kLoading[] = "Loading instrument set from '";
  if (std::strncmp(text, kLoading, sizeof kLoading - 1) == 0) return true;
  static const char kLoaded[] = " samples has been loaded as ID ";
  return std::strncmp(text, "Instrument '", 12) == 0 && std::strstr(text, kLoaded) != nullptr;
}
