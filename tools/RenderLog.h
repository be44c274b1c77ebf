// pelvane-render's side of the log. A render logs a line for every note (tens
// of thousands for a long piece), so by default standard error gets only the
// start-up lines that say why something did not load (a sample file, the
// instrument set); --verbose shows every line. The lines shown are gathered
// in a buffer and written in large blocks, not one or two writes per line;
// Flush writes them out before anything else goes to the same stream.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>

class RenderLog {
 public:
  // quiet: no line at all (only the command's own errors are shown).
  RenderLog(std::FILE* out, bool verbose, bool quiet = false);
  // Takes the log's lines from now on (SetLogSink) until destroyed.
  void Install();
  ~RenderLog();
  RenderLog(const RenderLog&) = delete;
  RenderLog& operator=(const RenderLog&) = delete;

  // Start-up (loading the samples and instrument set) is over: from now on a
  // line is shown only with --verbose.
  void EndStartUp();
  // Any thread. Writes out the lines gathered so far.
  void Flush();
  // Any thread, the log sink: one line, without its line feed.
  void Take(const char* line);

  // True for a start-up line that only reports progress or success ("Loading
  // instrument set from ...", "Instrument ... has been loaded as ID n"):
  // the others of start-up say why something did not load.
  static bool IsProgressLine(const char* line);

  static constexpr size_t kBufferBytes = 65536;

 private:
  void FlushLocked();

  std::FILE* out_;
  const bool verbose_;
  const bool quiet_;
  bool installed_ = false;
  std::mutex mutex_;
  bool startUp_ = true;
  std::string buffer_;
};
