#include "tools/RenderCommand.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/InitEngine.h"
#include "platform/DebugOutput.h"
#include "tools/DumpReader.h"
#include "tools/InputFile.h"
#include "tools/MessageText.h"
#include "tools/ProgressBar.h"
#include "tools/Renderer.h"
#include "tools/SmfReader.h"
#include "tools/WavWriter.h"

namespace {

int Error(const std::string& text) {
  std::fprintf(stderr, "pelvane-render: error: %s\n", text.c_str());
  return 1;
}

bool LoadEvents(const std::string& path, std::vector<MidiEvent>* events, std::string* error) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadWholeFile(path, &bytes, &why)) {
    *error = "'" + path + "': " + why;
    return false;
  }
  if (LooksLikeSmf(bytes) || HasSmfExtension(path)) {
    SmfReader smf;
    if (!smf.Parse(bytes.data(), bytes.size())) {
      *error = "'" + path + "': " + smf.Error();
      return false;
    }
    *events = smf.Events();
    return true;
  }
  DumpReader dump;
  dump.Parse(bytes.data(), bytes.size());
  if (dump.IgnoredBytes() != 0)
    std::fprintf(stderr,
                 "pelvane-render: '%s': ignored the last %zu bytes (not a whole 8-byte record)\n",
                 path.c_str(), dump.IgnoredBytes());
  *events = dump.Events();
  return true;
}

}  // namespace

int RunRenderCommand(const RenderOptions& options) {
  std::vector<MidiEvent> events;
  std::string error;
  if (!LoadEvents(options.input, &events, &error)) return Error(error);

  if (options.print) {
    const uint64_t origin = options.trim && !events.empty() ? events.front().timeUs : 0;
    for (MidiEvent event : events) {
      event.timeUs = event.timeUs > origin ? event.timeUs - origin : 0;
      std::printf("%s\n", DescribeEvent(event).c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : Error("cannot write the listing");
  }

  Renderer renderer(events, options.trim,
                    options.tailGiven ? options.tailMs : Renderer::kDefaultTailMs);
  if (!renderer.Fits(&error)) return Error("'" + options.input + "': " + error);

  // The output path is taken as given, before --dir changes the directory.
  // A render that fails leaves no half-written file behind.
  WavWriter out;
  if (!out.Open(options.output)) return Error("'" + options.output + "': " + out.Error());
  std::error_code noPath;
  const std::string outputPath = std::filesystem::absolute(options.output, noPath).string();
  auto discard = [&](const std::string& text) {
    out.Abandon();
    std::remove(outputPath.c_str());
    return Error(text);
  };
  if (!options.dir.empty()) {
    std::error_code failed;
    std::filesystem::current_path(options.dir, failed);
    if (failed) return discard("cannot enter '" + options.dir + "': " + failed.message());
  }
  platform::CopyDebugOutputToStandardError();
  InitEngine();

  ProgressBar bar(stderr);
  renderer.SetProgress([&bar](uint64_t done, uint64_t expected) { bar.Update(done, expected); });
  RenderStats stats;
  const auto start = std::chrono::steady_clock::now();
  const bool rendered = renderer.Run(&out, &stats, &error);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!rendered) return discard("'" + options.output + "': " + error);
  if (!out.Finish()) return discard("'" + options.output + "': " + out.Error());

  const double seconds = static_cast<double>(stats.frames) / 44100.0;
  char speed[32];
  if (wall > 0)
    std::snprintf(speed, sizeof speed, "%.1fx real time", seconds / wall);
  else
    std::snprintf(speed, sizeof speed, "too fast to time");
  std::fprintf(stderr,
               "pelvane-render: rendered %.3f s (%llu frames, %zu messages) into '%s': "
               "peak voices %d, clipped frames %llu, %s\n",
               seconds, static_cast<unsigned long long>(stats.frames), events.size(),
               options.output.c_str(), stats.peakVoices,
               static_cast<unsigned long long>(stats.clippedFrames), speed);
  if (stats.tailCut)
    std::fprintf(stderr, "pelvane-render: the tail was cut after %llu ms with %d voices sounding\n",
                 static_cast<unsigned long long>((stats.frames - stats.lastMessageFrame) * 10 / 441),
                 stats.voicesAtEnd);
  return 0;
}
