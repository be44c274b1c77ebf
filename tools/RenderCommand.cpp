#include "tools/RenderCommand.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "app/InitEngine.h"
#include "platform/File.h"
#include "tools/InputFile.h"
#include "tools/MessageText.h"
#include "tools/ProgressBar.h"
#include "tools/RenderLog.h"
#include "tools/RenderOutput.h"
#include "tools/Renderer.h"
#include "tools/WavWriter.h"

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

std::string ErrorText(int code) {
  char text[256];
  platform::DescribeError(code, text, sizeof text);
  return text;
}

// A new, empty file beside target, created exclusively: nobody else's file is
// ever truncated, and removing it again touches only what this run made.
bool CreateTemporaryBeside(const fs::path& target, fs::path* temporary, std::string* error) {
  std::random_device seed;
  std::mt19937_64 random(
      seed() ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".pelvane-%016llx.tmp",
                  static_cast<unsigned long long>(random()));
    // Names of file systems hold 255 bytes: a long output name is cut (at a
    // character's start) so that the temporary name still fits.
    std::string stem = target.filename().string();
    const size_t room = 255 - 1 - std::strlen(suffix);
    if (stem.size() > room) {
      stem.resize(room);
      while (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80)
        stem.pop_back();
      if (!stem.empty() && static_cast<unsigned char>(stem.back()) >= 0xC0) stem.pop_back();
    }
    const fs::path candidate = target.parent_path() / ("." + stem + suffix);
    platform::FileHandle file = platform::FileCreateNew(candidate.string().c_str());
    if (file != platform::kNoFile) {
      platform::FileClose(file);
      *temporary = candidate;
      return true;
    }
    bool isDirectory = false;
    // Any other reason than the name being taken ends the attempts.
    const int code = platform::LastError();
    if (!platform::FindEntry(candidate.string().c_str(), &isDirectory)) {
      *error = "cannot create the file: " + ErrorText(code);
      return false;
    }
  }
  *error = "cannot create a temporary file beside it";
  return false;
}

}  // namespace

int RunRenderCommand(const RenderOptions& options) {
  // Lines are taken over only once the engine starts; until then nothing logs.
  RenderLog log(stderr, options.verbose, options.quiet);
  auto fail = [&log](const std::string& text) {
    log.Flush();
    std::fprintf(stderr, "pelvane-render: error: %s\n", text.c_str());
    return 1;
  };

  // Every option is checked before any file is touched. The paths given are
  // relative to where the command was started, not to --dir.
  const bool toStdout = options.output == "-";
  std::string error;
  WavWriter out;
  RenderOutput stage;
  if (!stage.Prepare(options.rate, options.gainDb, &out, &error)) return fail(error);
  std::error_code failed;
  const fs::path input = fs::absolute(options.input, failed);
  const fs::path output =
      options.output.empty() || toStdout ? fs::path() : fs::absolute(options.output, failed);
  if (failed) return fail("cannot resolve the paths: " + failed.message());
  if (!options.dir.empty()) {
    fs::current_path(options.dir, failed);
    if (failed) return fail("cannot enter " + Quoted(options.dir) + ": " + failed.message());
  }

  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(input.string(), &bytes, &error))
    return fail(Quoted(options.input) + ": " + error);
  InputEvents parsed;
  if (!ParseInput(bytes.data(), bytes.size(), options.input, &parsed, &error))
    return fail(Quoted(options.input) + ": " + error);
  std::vector<uint8_t>().swap(bytes);
  const std::vector<MidiEvent>& events = parsed.events;
  if (parsed.ignoredBytes != 0 && !options.quiet)
    std::fprintf(stderr,
                 "pelvane-render: '%s': ignored the last %zu bytes (not a whole 8-byte record)\n",
                 options.input.c_str(), parsed.ignoredBytes);

  if (options.print) {
    const uint64_t origin = options.trim && !events.empty() ? events.front().timeUs : 0;
    for (MidiEvent event : events) {
      event.timeUs = event.timeUs > origin ? event.timeUs - origin : 0;
      std::printf("%s\n", DescribeEvent(event).c_str());
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : fail("cannot write the listing");
  }

  // A MIDI file that ends in silence keeps it: the render runs to its last End
  // of Track. A dump ends with its last message.
  Renderer renderer(events, options.trim,
                    options.tailGiven ? options.tailMs : Renderer::kDefaultTailMs,
                    parsed.kind != InputKind::kDump ? parsed.endTimeUs : 0);
  if (!renderer.Fits(&error)) return fail(Quoted(options.input) + ": " + error);

  // The output is written beside its place under a temporary name and put in
  // place only once whole: a failed render leaves whatever was there as it
  // was, and the input is never the file being written.
  // Into standard output (a pipe) the frames stream as they are made.
  fs::path target = output;
  const fs::file_status status = toStdout ? fs::file_status() : fs::status(output, failed);
  if (fs::exists(status)) {
    if (!fs::is_regular_file(status))
      return fail(Quoted(options.output) + ": not a regular file, it is not replaced");
    if (fs::equivalent(input, output, failed))
      return fail(Quoted(options.output) + ": is the input file, it is not replaced");
    // Through a symbolic link, the file it names is replaced, not the link.
    target = fs::canonical(output, failed);
    if (failed) return fail(Quoted(options.output) + ": " + failed.message());
  }
  fs::path temporary;
  if (!toStdout && !CreateTemporaryBeside(target, &temporary, &error))
    return fail(Quoted(options.output) + ": " + error);
  // Interrupted (Ctrl+C, a closed terminal, kill), the run leaves nothing.
  if (!toStdout) platform::RemoveFileOnInterrupt(temporary.string().c_str());
  auto discard = [&](const std::string& text) {
    out.Abandon();
    std::error_code ignored;
    if (!toStdout) fs::remove(temporary, ignored);
    platform::RemoveFileOnInterrupt(nullptr);
    return fail(text);
  };
  if (toStdout) {
    platform::KeepStandardOutputBinary();
    if (!out.OpenStream(stdout, options.rate)) return discard("standard output: " + out.Error());
  } else if (!out.Open(temporary.string(), options.rate)) {
    return discard(Quoted(options.output) + ": " + out.Error());
  }
  const std::string where = toStdout ? "standard output" : Quoted(options.output);

  log.Install();
  InitEngine();
  log.EndStartUp();

  ProgressBar bar(stderr);
  bar.SetBeforeDraw([&log] { log.Flush(); });
  if (!options.quiet)
    renderer.SetProgress([&bar](uint64_t done, uint64_t expected) { bar.Update(done, expected); });
  RenderStats stats;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = renderer.Run(&stage, &stats, &error);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) return discard(where + ": " + error);
  if (!stage.Flush() || !out.Finish()) return discard(where + ": " + out.Error());
  if (!toStdout) {
    fs::rename(temporary, target, failed);
    if (failed) return discard(where + ": cannot put the file in place: " + failed.message());
  }
  platform::RemoveFileOnInterrupt(nullptr);

  log.Flush();
  if (options.quiet) return 0;
  const double seconds = static_cast<double>(stats.frames) / 44100.0;
  char speed[32];
  if (wall > 0)
    std::snprintf(speed, sizeof speed, "%.1fx real time", seconds / wall);
  else
    std::snprintf(speed, sizeof speed, "too fast to time");
  std::fprintf(stderr,
               "pelvane-render: rendered %.3f s (%llu frames, %zu messages) into %s: "
               "peak voices %d, clipped frames %llu, %s\n",
               seconds, static_cast<unsigned long long>(stats.frames), events.size(), where.c_str(),
               stats.peakVoices, static_cast<unsigned long long>(stats.clippedFrames), speed);
  if (stats.tailCut)
    std::fprintf(
        stderr, "pelvane-render: the tail was cut after %llu ms with %d voices sounding\n",
        static_cast<unsigned long long>((stats.frames - stats.lastMessageFrame) * 10 / 441),
        stats.voicesAtEnd);
  return 0;
}
